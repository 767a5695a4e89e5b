#include "app/ui/audio_dialog.h"

#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include "app/ui/device_lists.h"

namespace {

QComboBox* DeviceList(QWidget* parent, const char* caption, int top, const char* name) {
    auto* label = new QLabel(QString::fromUtf8(caption), parent);
    label->setGeometry(16, top, 120, 17);
    auto* list = new QComboBox(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setGeometry(136, top - 2, 240, 21);
    // Screen readers name the list by its caption.
    label->setBuddy(list);
    return list;
}

void Select(QComboBox& list, const QString& storedName) {
    QStringList entries;
    for (int i = 0; i < list.count(); ++i) entries.append(list.itemText(i));
    list.setCurrentIndex(DeviceListSelection(entries, storedName));
}

}  // namespace

TAudioDialog::TAudioDialog(QWidget* parent) : QDialog(parent, Qt::Tool) {
    setObjectName(QStringLiteral("audioDialog"));
    setWindowTitle(QString::fromUtf8("Configuración de Audio"));
    resize(413, 206);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);
    auto* group = new QGroupBox(QStringLiteral("Audio"), this);
    group->setGeometry(8, 8, 393, 113);
    Playback_ = DeviceList(group, "Salida (Audífono):", 32, "playbackList");
    Capture_ = DeviceList(group, "Entrada (Micrófono):", 72, "captureList");
    auto* accept = new QPushButton(QStringLiteral("Aceptar"), this);
    accept->setObjectName(QStringLiteral("acceptButton"));
    accept->setGeometry(224, 136, 81, 27);
    accept->setDefault(true);
    connect(accept, &QPushButton::clicked, this, &QDialog::accept);
    auto* cancel = new QPushButton(QStringLiteral("Cancelar"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setGeometry(312, 136, 81, 27);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TAudioDialog::Fill(const QStringList& playbackEntries, const QStringList& captureEntries,
                        const QString& waveIn, const QString& waveOut) {
    Playback_->clear();
    Playback_->addItems(playbackEntries);
    Select(*Playback_, waveOut);
    Capture_->clear();
    Capture_->addItems(captureEntries);
    Select(*Capture_, waveIn);
}

QString TAudioDialog::WaveIn() const { return Capture_->currentText(); }

QString TAudioDialog::WaveOut() const { return Playback_->currentText(); }
