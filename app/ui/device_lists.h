// The lists of playback and capture devices: "Predeterminado" first, then the
// system's device names in device order, and the choice of a stored name.
// A device keeps the number the media layer gave it, which is what a call
// opens; its place in a list of one kind is no device number.
#pragma once

#include <functional>
#include <vector>

#include <QString>
#include <QStringList>

#include "media/audio_device_names.h"

class QComboBox;

using TDeviceList = std::vector<media::TAudioDeviceName>;

// The devices of one kind (capture when `capture` is true).
using TDeviceNameSource = std::function<TDeviceList(bool capture)>;

// The system's devices through the media library.
TDeviceList SystemDeviceNames(bool capture);

// The names alone, in list order.
QStringList DeviceNames(const TDeviceList& devices);

// "Predeterminado" followed by the names.
QStringList DeviceListEntries(const QStringList& deviceNames);

// The entry a stored name selects: the default (0) for an empty name or the
// "Default" older versions stored, else the
// first entry equal to it ignoring letter case, else -1 (no selection).
int DeviceListSelection(const QStringList& entries, const QString& storedName);

// Refills a list and selects the stored name in it.
void FillDeviceList(QComboBox& list, const TDeviceList& devices, const QString& storedName);

// The device number of a chosen list entry: the media layer's number of the
// first device named exactly so (letter case counts), else -1, the system's
// default device (the default entry and devices that have gone away).
int DeviceIndex(const TDeviceList& devices, const QString& chosen);
