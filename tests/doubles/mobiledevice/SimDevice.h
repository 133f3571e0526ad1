#pragma once
// The simulated mobile-device library serves a folder as the file system of one handheld.
// "com.apple.afc2" sees the whole folder; "com.apple.afc" only its "var/mobile/Media".
// Notifications run on a thread of the library, as with the real one.
//
// Tests and ipod-dump drive it through MobileDeviceSimControl(command, out, outSize):
//   reset                       no device, default behaviour, counters cleared
//   root PATH                   the folder served as the device's file system
//   arrive [PATH]               a new device arrives (message 1), serving PATH or the root; it
//                               stays until "leave"
//   leave [PATH]                the latest arrival, or the latest present device serving PATH,
//                               is removed (message 2)
//   message N                   the latest arrival reports message code N
//   wait                        returns when every queued notification has been delivered
//   hold NAME                   the next call of NAME stays inside the library until "release",
//                               or until the notifications have ended and half a second longer
//   held                        returns when a call is held (-1 when none came)
//   release                     lets a held call go on
//   pairing none|valid|invalid  never paired / paired / paired, but the device no longer knows the host
//   afc2 0|1                    whether the full-access service exists (1 at start)
//   fail NAME RESULT [AFTER]    entry point NAME answers RESULT (unsigned) after AFTER more
//                               successful calls; RESULT 0 ends the failure
//   maxread N                   a read delivers at most N bytes (0: as many as asked)
//   sizedelta N                 the file information gives every size N bytes off (0: the true size)
//   count NAME                  how many times NAME was called since "reset"
// The answer is 0 (or the count), -1 for a command it does not know. Waits end after 30 s.
// Released while a call is held, the library aborts the process.
