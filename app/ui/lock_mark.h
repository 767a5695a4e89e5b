// TLockMark: a small padlock beside the quality mark while the call in
// progress is encrypted (SRTP), with the tool tip "Llamada cifrada"; empty
// otherwise. Like the quality mark it asks once a second.
#pragma once

#include <QLabel>
#include <QTimer>

#include <functional>

class TLockMark : public QLabel {
    Q_OBJECT

public:
    static constexpr int kRefreshMs = 1000;
    // Whether the call in progress is encrypted (false between calls).
    using TSource = std::function<bool()>;

    explicit TLockMark(TSource source, QWidget* parent = nullptr);

    bool Shown() const { return Shown_; }
    // Asks now (the timer does it every kRefreshMs).
    void Refresh();

private:
    TSource Source_;
    bool Shown_ = false;
    QTimer Timer_;
};
