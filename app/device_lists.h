// The lists of playback and capture devices: "Default" first, then the
// system's device names in device order, and the choice of a stored name.
#pragma once

#include <functional>

#include <QString>
#include <QStringList>

class QComboBox;

// The device names of one kind (capture when `capture` is true).
using TDeviceNameSource = std::function<QStringList(bool capture)>;

// The system's devices through the media library.
QStringList SystemDeviceNames(bool capture);

// "Default" followed by the names.
QStringList DeviceListEntries(const QStringList& deviceNames);

// The entry a stored name selects: "Default" (0) for an empty name, else the
// first entry equal to it ignoring letter case, else -1 (no selection).
int DeviceListSelection(const QStringList& entries, const QString& storedName);

// Refills a list and selects the stored name in it.
void FillDeviceList(QComboBox& list, const QStringList& deviceNames, const QString& storedName);

// The device number of a chosen list entry: the position of the first
// device named exactly so (letter case counts), else -1, the system's
// default device ("Default" and devices that have gone away).
int DeviceIndex(const QStringList& deviceNames, const QString& chosen);
