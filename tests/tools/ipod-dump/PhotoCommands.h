#pragma once
// What the photo and artwork commands share: the device arguments, running with a device, and
// JSON lines whose keys keep the documented order (QJsonObject would sort them).
#include "device/ThumbFormat.h"

#include <QByteArray>
#include <QJsonValue>
#include <QStringList>
#include <functional>
#include <utility>
#include <vector>

namespace dump {

// Keys with the JSON text of their values.
using OrderedFields = std::vector<std::pair<const char*, QByteArray>>;
QByteArray JsonText(const QJsonValue& value);
QByteArray OrderedObject(const OrderedFields& fields);
void PrintOrderedLine(const OrderedFields& fields);
// {"id","size","width","height","filecount"}
QByteArray FormatJson(const device::TThumbFormat& f);

// Splits ROOT [OUTDIR] [--handheld]; ROOT made absolute. False on a bad command line.
bool ParseDeviceArgs(const QStringList& args, int positional, QStringList& values, bool& handheld);
// Runs `body` with the device root text that the database objects take: "E:" mapped to ROOT,
// or a connected simulated phone.
int WithDevice(const QString& root, bool handheld, const std::function<int(const QByteArray&)>& body);

} // namespace dump
