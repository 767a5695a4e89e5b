#include "app/ui/device_lists.h"

#include <QComboBox>

#include "app/booth/booth_texts.h"
#include "media/audio_devices.h"

TDeviceList SystemDeviceNames(bool capture) { return capture ? media::WaveInDevices() : media::WaveOutDevices(); }

QStringList DeviceNames(const TDeviceList& devices) {
    QStringList names;
    for (const auto& device : devices) names.append(QString::fromStdString(device.name));
    return names;
}

QStringList DeviceListEntries(const QStringList& deviceNames) {
    return QStringList{QString::fromUtf8(kDefaultDeviceEntry)} + deviceNames;
}

int DeviceListSelection(const QStringList& entries, const QString& storedName) {
    if (storedName.isEmpty() || storedName.compare(QString::fromUtf8(kStoredDefaultDeviceEntry), Qt::CaseInsensitive) == 0)
        return 0;
    for (int i = 0; i < entries.size(); ++i)
        if (entries[i].compare(storedName, Qt::CaseInsensitive) == 0) return i;
    return -1;
}

void FillDeviceList(QComboBox& list, const TDeviceList& devices, const QString& storedName) {
    list.clear();
    const QStringList entries = DeviceListEntries(DeviceNames(devices));
    list.addItems(entries);
    list.setCurrentIndex(DeviceListSelection(entries, storedName));
}

int DeviceIndex(const TDeviceList& devices, const QString& chosen) {
    return media::FindDeviceByName(devices, chosen.toStdString());
}
