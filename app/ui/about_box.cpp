#include "app/ui/about_box.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

#include "app/ui/pictures.h"

namespace {

constexpr int kWidth = 329;
constexpr int kHeight = 337;
// Where the separator lines run: under the logo and above the legal notice.
constexpr int kLogoBottom = 96;
constexpr int kNoticeTop = 206;

constexpr char kSupportLine[] = "Soporte: http://www.telvira.example";
constexpr char kContactLine[] = "Información y MSN: info@telvira.example";
constexpr char kLegalNotice[] =
    "Este programa está protegido por las leyes de propiedad intelectual y los tratados "
    "internacionales. Queda prohibido copiarlo, modificarlo, descompilarlo, alquilarlo o "
    "distribuirlo, en todo o en parte, sin la autorización escrita de Telvira.";

QLabel* Line(QWidget* parent, const QString& text, const QRect& place, const char* name) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(place);
    return label;
}

}  // namespace

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("aboutBox"));
    setWindowTitle(QStringLiteral("Acerca de..."));
    setFixedSize(kWidth, kHeight);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);
    auto* logo = Line(this, QString(), {8, 8, kWidth - 16, kLogoBottom - 12}, "aboutLogo");
    logo->setPixmap(BoothLogo().scaled(logo->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
    logo->setAlignment(Qt::AlignCenter);
    Line(this, QString::fromUtf8(kSupportLine), {16, kLogoBottom + 10, kWidth - 32, 17}, "supportLine");
    Line(this, QString::fromUtf8(kContactLine), {16, kLogoBottom + 32, kWidth - 32, 17}, "contactLine");
    Version_ = Line(this, QString::fromUtf8("Versión:"), {16, kLogoBottom + 64, kWidth - 32, 20}, "versionLabel");
    QFont bold = Version_->font();
    bold.setBold(true);
    Version_->setFont(bold);
    auto* notice = Line(this, QString::fromUtf8(kLegalNotice), {16, kNoticeTop + 8, kWidth - 32, 76}, "legalNotice");
    QFont small = notice->font();
    small.setPointSize(7);
    notice->setFont(small);
    notice->setWordWrap(true);
    notice->setAlignment(Qt::AlignCenter);
    auto* accept = new QPushButton(QStringLiteral("Aceptar"), this);
    accept->setObjectName(QStringLiteral("acceptButton"));
    accept->setGeometry((kWidth - 81) / 2, kHeight - 40, 81, 27);
    accept->setDefault(true);
    connect(accept, &QPushButton::clicked, this, &QDialog::accept);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TAboutBox::SetVersion(const QString& versionText) {
    Version_->setText(QString::fromUtf8("Versión: ") + versionText);
}

void TAboutBox::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    QPainter painter(this);
    painter.setPen(QPen(QColor(0x1f, 0x4e, 0x8c), 1));
    painter.drawRect(rect().adjusted(2, 2, -3, -3));
    painter.drawLine(10, kLogoBottom, width() - 11, kLogoBottom);
    painter.drawLine(10, kNoticeTop, width() - 11, kNoticeTop);
}
