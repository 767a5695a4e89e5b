#include "app/ui/audio_dialog.h"

#include <algorithm>
#include <stdexcept>

#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>

#include "app/ui/device_lists.h"
#include "media/codec_names.h"

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
    resize(413, 330);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);
    auto* group = new QGroupBox(QStringLiteral("Audio"), this);
    group->setGeometry(8, 8, 393, 113);
    Playback_ = DeviceList(group, "Salida (Audífono):", 32, "playbackList");
    Capture_ = DeviceList(group, "Entrada (Micrófono):", 72, "captureList");
    auto* codecGroup = new QGroupBox(QString::fromUtf8("Códecs"), this);
    codecGroup->setGeometry(8, 128, 393, 150);
    Codecs_ = new QListWidget(codecGroup);
    Codecs_->setObjectName(QStringLiteral("codecList"));
    Codecs_->setGeometry(16, 24, 240, 114);
    auto* up = new QPushButton(QStringLiteral("Subir"), codecGroup);
    up->setObjectName(QStringLiteral("codecUpButton"));
    up->setGeometry(272, 24, 105, 27);
    auto* down = new QPushButton(QStringLiteral("Bajar"), codecGroup);
    down->setObjectName(QStringLiteral("codecDownButton"));
    down->setGeometry(272, 58, 105, 27);
    const auto shift = [this](int step) {
        const int row = Codecs_->currentRow();
        const int target = row + step;
        if (row < 0 || target < 0 || target >= Codecs_->count()) return;
        QListWidgetItem* item = Codecs_->takeItem(row);
        Codecs_->insertItem(target, item);
        Codecs_->setCurrentRow(target);
    };
    connect(up, &QPushButton::clicked, this, [shift] { shift(-1); });
    connect(down, &QPushButton::clicked, this, [shift] { shift(1); });
    auto* accept = new QPushButton(QStringLiteral("Aceptar"), this);
    accept->setObjectName(QStringLiteral("acceptButton"));
    accept->setGeometry(224, 290, 81, 27);
    accept->setDefault(true);
    connect(accept, &QPushButton::clicked, this, &QDialog::accept);
    auto* cancel = new QPushButton(QStringLiteral("Cancelar"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setGeometry(312, 290, 81, 27);
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

QList<TCodecRow> CodecRows(const QString& stored, const QStringList& known, const QString& fallback) {
    QList<TCodecRow> rows;
    const QString chosen = stored.trimmed().isEmpty() ? fallback : stored;
    for (const QString& part : chosen.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString name = part.trimmed().toLower();
        const bool seen = std::any_of(rows.begin(), rows.end(), [&name](const TCodecRow& row) { return row.name == name; });
        if (known.contains(name) && !seen) rows.append({name, true});
    }
    for (const QString& name : known) {
        const bool seen = std::any_of(rows.begin(), rows.end(), [&name](const TCodecRow& row) { return row.name == name; });
        if (!seen) rows.append({name, false});
    }
    return rows;
}

void TAudioDialog::FillCodecs(const QString& stored) {
    QStringList known;
    for (const std::string& name : media::KnownCodecNames()) known.append(QString::fromStdString(name));
    Codecs_->clear();
    for (const TCodecRow& row : CodecRows(stored, known, QStringLiteral("pcmu,pcma,gsm,speex"))) {
        auto* item = new QListWidgetItem(row.name, Codecs_);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(row.ticked ? Qt::Checked : Qt::Unchecked);
    }
}

QString TAudioDialog::Codecs() const {
    QStringList ticked;
    for (int row = 0; row < Codecs_->count(); ++row) {
        if (Codecs_->item(row)->checkState() == Qt::Checked) ticked.append(Codecs_->item(row)->text());
    }
    return ticked.join(QLatin1Char(','));
}

std::vector<int> CodecPayloadTypes(const QString& stored) {
    if (stored.trimmed().isEmpty()) return {};
    try {
        return media::ParseCodecList(stored.toStdString());
    } catch (const std::invalid_argument&) {
        return {};  // a list edited by hand into nonsense: the default stands
    }
}
