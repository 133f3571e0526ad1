#pragma once
// The calling interface of "bass.dll" and its two format plug-ins, shared by the library that we
// build over GStreamer and by the program that loads it at run time.
#include <cstdint>

namespace bass {

using DWORD = std::uint32_t;
using QWORD = std::uint64_t;
using BOOL = int;
using HSTREAM = DWORD;
using HSYNC = DWORD;
using HPLUGIN = DWORD;

constexpr DWORD kActiveStopped = 0;
constexpr DWORD kActivePlaying = 1;
constexpr DWORD kActiveStalled = 2;
constexpr DWORD kActivePaused = 3;
constexpr DWORD kSyncEnd = 2;
constexpr DWORD kUnicode = 0x80000000u; // the file name is UTF-16

using SYNCPROC = void(HSYNC handle, DWORD channel, DWORD data, void* user);

using InitFn = BOOL(int device, DWORD freq, DWORD flags, void* win, const void* clsid);
using FreeFn = BOOL();
using PluginLoadFn = HPLUGIN(const char* file, DWORD flags);
using PluginFreeFn = BOOL(HPLUGIN handle);
using StreamCreateFileFn = HSTREAM(BOOL mem, const void* file, QWORD offset, QWORD length, DWORD flags);
using StreamFreeFn = BOOL(HSTREAM handle);
using ChannelIsActiveFn = DWORD(DWORD handle);
using ChannelPlayFn = BOOL(DWORD handle, BOOL restart);
using ChannelStopFn = BOOL(DWORD handle);
using ChannelPauseFn = BOOL(DWORD handle);
using ChannelSetSyncFn = HSYNC(DWORD handle, DWORD type, QWORD param, SYNCPROC* proc, void* user);
using ChannelRemoveSyncFn = BOOL(DWORD handle, HSYNC sync);

// A plug-in answers which stream formats it decodes, as GStreamer caps, or nullptr when no
// decoder for them is installed on this machine.
using PluginFormatsFn = const char*();
constexpr const char* kPluginFormatsName = "MgAudioPluginFormats";

// Not one of the library's entry points: how many streams are alive, for tests and benchmarks.
using StreamCountFn = DWORD();
constexpr const char* kStreamCountName = "MgAudioStreamCount";

} // namespace bass
