#include "app/device_lists.h"

#include <QComboBox>

#include "app/booth_texts.h"
#include "media/audio_devices.h"

QStringList SystemDeviceNames(bool capture) {
    QStringList names;
    for (const auto& device : capture ? media::WaveInDevices() : media::WaveOutDevices())
        names.append(QString::fromStdString(device.name));
    return names;
}

QStringList DeviceListEntries(const QStringList& deviceNames) {
    return QStringList{QString::fromUtf8(kDefaultDeviceEntry)} + deviceNames;
}

int DeviceListSelection(const QStringList& entries, const QString& storedName) {
    if (storedName.isEmpty()) return 0;
    for (int i = 0; i < entries.size(); ++i)
        if (entries[i].compare(storedName, Qt::CaseInsensitive) == 0) return i;
    return -1;
}

void FillDeviceList(QComboBox& list, const QStringList& deviceNames, const QString& storedName) {
    list.clear();
    const QStringList entries = DeviceListEntries(deviceNames);
    list.addItems(entries);
    list.setCurrentIndex(DeviceListSelection(entries, storedName));
}

int DeviceIndex(const QStringList& deviceNames, const QString& chosen) {
    return static_cast<int>(deviceNames.indexOf(chosen));
}
