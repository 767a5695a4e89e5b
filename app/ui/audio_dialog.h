// "Configuración de Audio": the playback and capture devices the booth's
// calls use, and the codecs its calls offer in the administrator's order
// ("Códecs": ticked ones are offered, top first). It keeps nothing between
// openings; the main window fills it with the device lists of the moment
// and reads the choice back.
#pragma once

#include <QDialog>
#include <QString>
#include <QList>
#include <QStringList>

#include <vector>

class QComboBox;
class QListWidget;

// The rows of the codec list: the stored names first, in their order and
// ticked, then the other known names unticked; a stored name that is not
// known is dropped. An empty `stored` ticks `fallback` (the default list).
struct TCodecRow {
    QString name;
    bool ticked;
};
QList<TCodecRow> CodecRows(const QString& stored, const QStringList& known, const QString& fallback);

// The payload types of a stored codec list; empty (the agent's default)
// for an empty list or one with a name that is not known.
std::vector<int> CodecPayloadTypes(const QString& stored);

class TAudioDialog : public QDialog {
    Q_OBJECT

public:
    explicit TAudioDialog(QWidget* parent = nullptr);

    // The entries of both lists ("Default" first) and the stored names to
    // select: matched ignoring letter case, "Default" for an empty name, no
    // selection for a name no entry matches.
    void Fill(const QStringList& playbackEntries, const QStringList& captureEntries, const QString& waveIn,
              const QString& waveOut);

    QString WaveIn() const;   // capture, "Salida (Microfono):"
    QString WaveOut() const;  // playback, "Entrada (Audifono):"

    // "opus,g729,pcmu": as stored in the settings.
    void FillCodecs(const QString& stored);
    QString Codecs() const;

private:
    QComboBox* Playback_;  // children of this
    QComboBox* Capture_;
    QListWidget* Codecs_;
};
