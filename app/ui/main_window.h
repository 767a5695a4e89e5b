// The booth's main window: account, balance, booth state, keypad, the last
// five calls and the connection state, with the start-up validation, going
// on and off line and the closing question.
//
// The call itself (placing, pricing, timing, its end) belongs to
// TBoothCallFlow: the window shows what the flow says and forwards the
// operator's clicks to it.
//
// Threading: user-interface thread only. Every portal request answers later
// through the event loop; no handler runs inside another.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include <QElapsedTimer>
#include <QMainWindow>
#include <QString>
#include <QStringList>

#include "app/booth/admin_pin.h"
#include "app/booth/booth_call_flow.h"
#include "app/booth/booth_options.h"
#include "app/booth/booth_settings.h"
#include "app/booth/portal_rate_source.h"
#include "app/booth/retry_delay.h"
#include "app/counter/booth_session.h"
#include "app/guards/call_guards.h"
#include "app/guards/guard_notes.h"
#include "app/portal/portal_reply.h"
#include "app/till/booth_call_end.h"
#include "app/ui/device_lists.h"
#include "app/ui/till.h"
#include "sipclient/sipclient.h"

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTableWidget;
class QTimer;
class TAboutBox;
class TAccountDialog;
class TAudioDialog;
class TBalanceWatch;
class TBoothTray;
class TCallJournal;
class TCallRecorder;
class TCashCloseWindow;
class TClickableLabel;
class TJournalDb;
class TShopReplicator;
class TPortal;
class TQtCallClock;
class TScaledStage;
class QListWidget;
class TSipBoothLine;
class TBoothSessionWatch;

// Whether the desktop has a notification area; tests put their own answer.
using TTrayAvailability = std::function<bool()>;

class TMainWindow : public QMainWindow, private IBoothCallEndView {
    Q_OBJECT

public:
    // Builds the window and its component; nothing is read or sent yet.
    explicit TMainWindow(const TProviderAddresses& addresses,
                         TDeviceNameSource deviceNames = SystemDeviceNames, QWidget* parent = nullptr);
    ~TMainWindow() override;

    // The creation steps after the layout: stored values, device lists,
    // first-run prompts, start-up validation (and going on line).
    void Start();

    TSipClient& Client() { return *Client_; }
    TPortal& Portal() { return *Portal_; }
    TBoothCallFlow& CallFlow() { return *Flow_; }
    // The call placed last by "&Llamar"; it stays after the call has ended.
    ISipCallPtr CurrentCall() const;
    // Waits between attempts to reach the portal and the SIP server at
    // start (tests shorten them).
    void SetRetryDelays(std::chrono::milliseconds first, std::chrono::milliseconds ceiling);
    void SetTrayAvailability(TTrayAvailability value) { TrayAvailable_ = std::move(value); }

    // What the demonstration run needs: the booth state shown, whether a
    // call can be placed now (given a number), and the operator's two
    // gestures.
    QString BoothState() const;
    bool ReadyToCall() const;
    void Dial(const QString& number);
    void HangUpCall();
    // Shows the window normally or, when the settings say so, in kiosk mode.
    void ShowAsConfigured();
    // The program is being stopped (a signal, the session's end): hangs up,
    // unregisters and saves without asking, waiting for the registrar at
    // most kShutDownWait. The window may then be destroyed.
    void ShutDown();
    static constexpr std::chrono::milliseconds kShutDownWait{3000};

    // The till: the local call journal (null when it could not be opened),
    // the customer's price of the last call as shown, and the till's
    // windows.
    TJournalDb* Journal() { return Journal_.get(); }
    TCallRecorder& Recorder() { return *Recorder_; }
    QString AmountToCharge() const;
    void SetWallClock(TClock clock);
    // "Cobrar": charges the last call, when it has something to charge.
    void ChargeLastCall();
    // "Cobrar" on the operator's list "Sin cobrar" (no PIN): any unpaid
    // call of the shift, an interrupted one included.
    void ChargeUnpaid(std::int64_t callId);
    // "Cierre de caja", kept open beside the booth.
    TCashCloseWindow* OpenCashClose();
    // "Tarifas de venta", after the administrator PIN.
    void OpenRatesDialog();
    void ReprintLastReceipt();
signals:
    // A start-up validation attempt has been answered (or has failed) and
    // its outcome is shown.
    void ValidationDone();
    // The account dialog's validation has been answered (or has failed).
    void AccountValidated();

public slots:
    // "&En Línea": activates the component when needed and registers a new
    // account with the stored number and password.
    void GoOnline();
    // "&Desconectado": unregisters the window's account.
    void GoOffline();
    // Restores, shows and raises the window (a later copy of the program,
    // the tray).
    void ShowWindow();
    // "&Minimizar": into the notification area, or the taskbar without one.
    void HideToTray();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private slots:
    void RegistrationOk(TSipClient* sender, ISipAccountPtr account);
    void RegistrationBye(TSipClient* sender, ISipAccountPtr account);
    void KeypadClicked();
    void ClearClicked();
    void NumberEdited(const QString& text);
    void CallClicked();
    void HangUpClicked();
    void OpenAudioDialog();
    void OpenAccountDialog();
    void OpenAboutBox();
    void OpenWebSite();
    void OpenCallDetail();

private:
    // Layout, in main_window_layout.cpp.
    void BuildLayout();
    QWidget* BuildAccountGroup(QWidget* parent);
    QWidget* BuildBoothGroup(QWidget* parent);
    QWidget* BuildCallGroup(QWidget* parent);
    QWidget* BuildPhoneGroup(QWidget* parent);
    QWidget* BuildRegisterGroup(QWidget* parent);
    // Widths that show every value whole: each column as wide as its
    // widest text, the destination taking what is left.
    void FitRegisterColumns();
    QWidget* BuildAudioGroup(QWidget* parent);
    void BuildMenu();
    void BuildStatusBar();

    void SetupClient();
    void SetupCallFlow();
    // The credit and answer guards of the booth's call, in main_window_guards.cpp.
    void SetupCallGuards();
    void SetupBalanceWatch();
    // The counter's sessions, when the booth is part of a shop, in main_window_guards.cpp.
    void SetupSessionGuard();
    void ShowSessionState();
    void ArmSessionLimit();
    void SessionTick(int seconds);
    QString SessionRefusal() const;
    void ShowGuardText(const QString& text, bool alarm);
    void AskForCredentials();
    // Start-up validation, asked again with growing waits while the portal
    // cannot be reached.
    void ValidateAtStart();
    void StartValidated(const std::optional<TValidationReply>& reply);
    void ShowRegister(const TCallRegister& calls);
    void ShowMoney(QLabel* label, TMoney amount);
    void ShowOnline(bool online);
    void ShowNote(const QString& text);
    // Registration lost without "&Desconectado": say why and try again.
    void RegistrationFailed(const ISipAccountPtr& account);
    void RetryOnline();
    // The flow's signals as the booth shows them.
    void ShowPlaced(const QString& typed);
    void ShowRate(const QString& destination, TMoney rate);
    void ShowRateMissing();
    void ShowCharge(const TCallCharge& charge);
    // What the call's end shows (TBoothCallEnd decides), in main_window_end.cpp.
    void SetupCallEnd();
    void ShowTill() override;
    void ShowBoothFree() override;
    void ShowStatusNote(const QString& text, bool alarm) override;
    void PrepareNextCall(bool refresh) override;
    // After a call: the portal's new balance and register, then the
    // controls for the next call.
    void RefreshAfterCall();
    void ReadyForNextCall();
    void UpdateCallButton();
    void SetConfigurationEnabled(bool enabled);
    QString QuitQuestion() const;
    // After the account dialog: the portal's word on the credentials, then
    // a new registration with them.
    void ValidateAfterEdit();
    void EditValidated(const std::optional<TValidationReply>& reply);
    // The account dialog with these values; a cancel validates again only
    // when asked to.
    void EditAccount(const QString& username, const QString& password, bool validateOnCancel);
    void RefuseAccount();
    void ConnectDialogs();
    bool ConfirmAndEndCall();
    void EndCallForClose();
    void SaveOnClose();
    // The till, in main_window_till.cpp.
    void SetupTill();
    void BuildTillMenu();
    void ShowToCharge();
    void SetupUnpaidList();
    // The shift's unpaid calls again; true when there is any.
    bool FillUnpaidList();
    void ShowGuardNotes();
    // Runs a user action; an error is shown in the booth's error box.
    void Guarded(const std::function<void()>& action);
    // Administrator side, in main_window_admin.cpp.
    void SetupAdminGuard();
    void BuildAdminMenu(QMenu* options);
    // Asks for the administrator PIN when one is set; false refuses.
    bool AdminAllows();
    // In kiosk mode, what leaves the booth's window or reaches the till
    // takes the PIN; otherwise it is open.
    bool KioskAllows();
    void ToggleAutostart(bool enabled);
    void ToggleKioskMode(bool enabled);
    void ChangeAdminPin();

    TProviderAddresses Addresses_;
    TDeviceNameSource DeviceNames_;
    TBoothSettings Settings_;
    TAdminPin AdminPin_;
    Qt::WindowFlags DecoratedFlags_;  // the window's flags outside kiosk mode
    std::unique_ptr<TAdminGuard> AdminGuard_;
    TAccountSettings Account_;
    ISipAccountPtr SipAccount_;
    bool CloseConfirmed_ = false;
    bool ShuttingDown_ = false;
    bool Saved_ = false;
    TClock WallClock_;  // the journal's dates and times
    QString JournalWarning_;  // why calls are not being recorded, if they are not
    std::unique_ptr<TJournalDb> Journal_;
    std::unique_ptr<TCallJournal> CallJournal_;
    std::unique_ptr<TCallRecorder> Recorder_;
    std::unique_ptr<TTill> Till_;
    // Set when the settings name a shop database (main_window_till.cpp).
    std::unique_ptr<TShopReplicator> ShopReplicator_;
    void StartShopReplication();
    bool Online_ = false;      // registered, by the registrar's word
    bool WantOnline_ = false;  // going or staying on line (not "&Desconectado")
    bool Refreshing_ = false;  // the after-call refresh is on its way
    bool EditValidating_ = false;  // the account dialog's validation is on its way
    QElapsedTimer RegisterClock_;  // since the window last asked to register
    TRetryDelay PortalRetry_{std::chrono::seconds(2), std::chrono::seconds(60)};
    TRetryDelay SipRetry_{std::chrono::seconds(5), std::chrono::seconds(120)};

    // Children of this window.
    TSipClient* Client_ = nullptr;
    TPortal* Portal_ = nullptr;
    TQtCallClock* Clock_ = nullptr;
    TSipBoothLine* Line_ = nullptr;
    TPortalRateSource Rates_;
    TBoothCallFlow* Flow_ = nullptr;
    TCallGuards* Guards_ = nullptr;
    TGuardNotes GuardNotes_;  // of the call placed last
    TBoothCallEnd* End_ = nullptr;
    QListWidget* Unpaid_ = nullptr;  // in the dock "Sin cobrar"
    QPushButton* ChargeUnpaidButton_ = nullptr;
    QLabel* UnpaidWarning_ = nullptr;
    TBalanceWatch* BalanceWatch_ = nullptr;
    TBoothSessionWatch* SessionWatch_ = nullptr;  // null for a booth alone or without a journal
    bool ShopEnabled_ = false;                    // the settings name a shop database
    std::unique_ptr<TSessionLimit> SessionLimit_;  // the running call's, when its session has a limit
    QTimer* PortalRetryTimer_ = nullptr;
    QTimer* SipRetryTimer_ = nullptr;
    TAudioDialog* AudioDialog_ = nullptr;
    TAccountDialog* AccountDialog_ = nullptr;
    TAboutBox* AboutBox_ = nullptr;
    TBoothTray* Tray_ = nullptr;
    TTrayAvailability TrayAvailable_;
    TScaledStage* Stage_ = nullptr;
    TClickableLabel* Logo_ = nullptr;
    TClickableLabel* AccountValue_ = nullptr;
    QLabel* Balance_ = nullptr;
    QLabel* BoothState_ = nullptr;
    QLabel* Phone_ = nullptr;
    QLabel* Destination_ = nullptr;
    QLabel* RatePerMinute_ = nullptr;
    QLabel* Duration_ = nullptr;
    QLabel* TotalCost_ = nullptr;
    QLabel* ToCharge_ = nullptr;
    QPushButton* CallButton_ = nullptr;
    QPushButton* ChargeButton_ = nullptr;
    TCashCloseWindow* CashClose_ = nullptr;
    QPushButton* HangUpButton_ = nullptr;
    QLineEdit* Number_ = nullptr;
    QTableWidget* Register_ = nullptr;
    QComboBox* Speakers_ = nullptr;
    QComboBox* Microphones_ = nullptr;
    QLabel* Panels_[3] = {};
    // Menu items.
    QAction* MinimizeAction_ = nullptr;
    QAction* QuitAction_ = nullptr;
    QAction* OnlineAction_ = nullptr;
    QAction* OfflineAction_ = nullptr;
    QAction* AccountDialogAction_ = nullptr;
    QAction* AudioDialogAction_ = nullptr;
    QAction* AboutAction_ = nullptr;
    QAction* ChargeAction_ = nullptr;
    QAction* ReprintAction_ = nullptr;
    QAction* CashCloseAction_ = nullptr;
    QAction* RatesAction_ = nullptr;
    QAction* AutostartAction_ = nullptr;
    QAction* KioskAction_ = nullptr;
    QAction* AdminPinAction_ = nullptr;
};
