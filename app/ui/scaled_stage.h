// The booth's client area on a stage: at its drawn size the controls stand
// where they were placed; on a larger stage (kiosk mode's full screen) they
// are scaled by the same factor in both directions, fonts included, and the
// whole is centred.
//
// Only the client itself and the group boxes inside it are walked: other
// widgets place their own parts.
#pragma once

#include <QFont>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>

class TScaledStage : public QWidget {
    Q_OBJECT

public:
    // Takes `client` as its child; `client` keeps its fixed size as drawn.
    TScaledStage(QWidget* client, QWidget* parent = nullptr);

    // Fixed: the stage is exactly the client's drawn size (a normal
    // window). Not fixed: it takes any size and scales the client to it.
    void SetFixed(bool fixed);
    double Factor() const { return Factor_; }
    QSize sizeHint() const override { return Design_; }

signals:
    void Scaled(double factor);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    struct TDrawn {
        QRect Place;
        QFont Font;
    };
    void Remember(QWidget* widget);
    void Scale(double factor);

    QWidget* Client_;
    QSize Design_;
    double Factor_ = 1.0;
    QHash<QWidget*, TDrawn> Drawn_;
    QList<QPointer<QWidget>> Widgets_;
};
