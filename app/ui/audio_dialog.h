// "Configuración de Audio": the playback and capture devices the booth's
// calls use. It keeps nothing between openings; the main window fills it
// with the device lists of the moment and reads the choice back.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>

class QComboBox;

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

private:
    QComboBox* Playback_;  // children of this
    QComboBox* Capture_;
};
