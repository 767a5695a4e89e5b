// The counter's console ("softphone --counter"): every booth of the shop on
// one screen, live, with the gestures of the person at the counter: open a
// booth for a customer (with a limit in money or none), close it at
// checkout charging every call left unpaid on one receipt, and the shop's
// close.
//
// The board is read again when the database announces a change (LISTEN on
// the counter's connection): nothing is polled. A one-second timer only
// redraws durations and silences from the counter's own clock, and, while
// the database is out of reach, tries to connect again every few seconds.
//
// Threading: user-interface thread only.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <QDateTime>
#include <QMainWindow>

#include "app/counter/booth_board.h"
#include "app/money/money.h"

class QLabel;
class QPushButton;
class QTableView;
class QTimer;
class TAdminGuard;
class TAdminPin;
class TBoardModel;
class TCounterDb;
class TShopListener;

inline constexpr char kCounterTitle[] = "Mostrador - Softphone Telvira";
inline constexpr char kCounterOnlineText[] = "Conectado a la tienda";
inline constexpr char kCounterOfflineText[] = "Sin conexión con la base de la tienda";

class TCounterWindow : public QMainWindow {
    Q_OBJECT

public:
    // `url` is the counter role's address of the shop database.
    TCounterWindow(QString url, QString operatorName, QWidget* parent = nullptr);
    ~TCounterWindow() override;

    // Connects and shows the board; a database out of reach is tried again
    // every few seconds.
    void Start();
    bool Connected() const;

    TBoardModel& Board() { return *Model_; }
    // The booth chosen on the board, empty when none.
    QString SelectedBooth() const;
    void SelectBooth(const QString& name);

    // The gestures, each with its own questions (limit, cash received).
    void OpenBoothClicked();
    void CloseBoothClicked();
    void ShopCloseClicked();
    // The same without questions (the demonstration and tests): opens the
    // booth with this limit; closes it charging its unpaid calls with this
    // cash, no receipt printed. The close returns the calls charged.
    void OpenBooth(const QString& booth, std::optional<TMoney> limit);
    int CheckoutBooth(const QString& booth);

    TCounterDb* Db() { return Db_.get(); }

signals:
    // The board was read again (after an announcement, a gesture).
    void BoardRefreshed();

private:
    void BuildLayout();
    bool EnsureConnected();
    void Disconnected(const QString& why);
    void Refresh();
    void Tick();
    void Guarded(const std::function<void()>& action);

    QString Url_;
    QString Operator_;
    std::unique_ptr<TCounterDb> Db_;
    std::unique_ptr<TAdminPin> AdminPin_;
    std::unique_ptr<TAdminGuard> AdminGuard_;
    QDateTime NextAttempt_;

    // Children of this.
    TShopListener* Listener_ = nullptr;
    TBoardModel* Model_ = nullptr;
    QTableView* Table_ = nullptr;
    QLabel* Status_ = nullptr;
    QTimer* Clock_ = nullptr;
    QPushButton* OpenButton_ = nullptr;
    QPushButton* CloseButton_ = nullptr;
    QPushButton* ShopCloseButton_ = nullptr;
};
