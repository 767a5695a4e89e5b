// A file name beside its "..." button in the booth's dialogs: typed, or
// chosen in the system's file chooser; enabled and disabled as one.
#pragma once

#include <QString>
#include <QWidget>

class QLineEdit;
class QPushButton;

class TFileField : public QWidget {
    Q_OBJECT

public:
    // `name`: the field is "<name>Field" and its button "<name>Button" to
    // anything that looks them up. `chooserTitle` and `filter` are the file
    // chooser's.
    TFileField(const QString& name, const QString& chooserTitle, const QString& filter, QWidget* parent);

    // The name without the blanks a paste leaves around it.
    QString Path() const;
    void SetPath(const QString& path);
    // Empty, or a file this program can open for reading.
    bool Readable() const;

private:
    QLineEdit* Edit_;  // children of this
    QPushButton* Browse_;
};
