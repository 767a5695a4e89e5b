#include "app/ui/file_field.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

TFileField::TFileField(const QString& name, const QString& chooserTitle, const QString& filter, QWidget* parent)
    : QWidget(parent), Edit_(new QLineEdit(this)), Browse_(new QPushButton(QStringLiteral("..."), this)) {
    Edit_->setObjectName(name + QStringLiteral("Field"));
    Browse_->setObjectName(name + QStringLiteral("Button"));
    Browse_->setFixedWidth(24);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    row->addWidget(Edit_);
    row->addWidget(Browse_);
    connect(Browse_, &QPushButton::clicked, this, [this, chooserTitle, filter] {
        const QString chosen = QFileDialog::getOpenFileName(this, chooserTitle, Path(), filter);
        if (!chosen.isEmpty()) Edit_->setText(chosen);
    });
}

QString TFileField::Path() const { return Edit_->text().trimmed(); }

void TFileField::SetPath(const QString& path) { Edit_->setText(path); }

bool TFileField::Readable() const {
    const QString path = Path();
    if (path.isEmpty()) return true;
    // A folder opens for reading too; it is no certificate.
    QFile file(path);
    return QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly);
}
