// The booth's main window: account, balance, booth state, keypad, the last
// five calls and the connection state, with the start-up validation, going
// on and off line and the closing question.
//
// Threading: user-interface thread only. Portal requests wait in a local
// event loop, so registration events and clicks may run inside Start().
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <QMainWindow>
#include <QString>
#include <QStringList>

#include "app/admin_pin.h"
#include "app/booth_options.h"
#include "app/booth_settings.h"
#include "app/call_guards.h"
#include "app/device_lists.h"
#include "app/portal_reply.h"
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
class TBoothTray;
class TClickableLabel;
class TPortal;

// Whether the desktop has a notification area; tests put their own answer.
using TTrayAvailability = std::function<bool()>;

class TMainWindow : public QMainWindow {
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
    // The call placed last by "&Llamar"; it stays after the call has ended.
    ISipCallPtr CurrentCall() const { return CurrentCall_; }
    void SetTrayAvailability(TTrayAvailability value) { TrayAvailable_ = std::move(value); }

    // What the demonstration run needs: the booth state shown, whether a
    // call can be placed now, and the operator's two gestures.
    QString BoothState() const;
    bool ReadyToCall() const;
    void Dial(const QString& number);
    void HangUpCall();
    // Shows the window normally or, when the settings say so, in kiosk mode.
    void ShowAsConfigured();

public slots:
    // "&En Linea": activates the component when needed and registers a new
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
    void CallClicked();
    void HangUpClicked();
    void InviteOk(TSipClient* sender, ISipCallPtr call);
    void Bye(TSipClient* sender, ISipCallPtr call);
    void TimerTick();
    void OpenAudioDialog();
    void OpenAccountDialog();
    void OpenAboutBox();
    void OpenWebSite();
    void OpenCallDetail();
    // Administrator entries, in main_window_admin.cpp.
    void ToggleAutostart(bool enabled);
    void ToggleKioskMode(bool enabled);
    void ChangeAdminPin();

private:
    // Layout, in main_window_layout.cpp.
    void BuildLayout();
    QWidget* BuildAccountGroup(QWidget* parent);
    QWidget* BuildBoothGroup(QWidget* parent);
    QWidget* BuildCallGroup(QWidget* parent);
    QWidget* BuildPhoneGroup(QWidget* parent);
    QWidget* BuildRegisterGroup(QWidget* parent);
    QWidget* BuildAudioGroup(QWidget* parent);
    void BuildMenu();
    void BuildStatusBar();

    void SetupClient();
    void AskForCredentials();
    void ValidateAtStart();
    void ShowRegister(const TCallRegister& calls);
    void ShowOnline(bool online);
    // "&Llamar" in its order: the booth shows the call before placing it,
    // then asks the portal for the destination and the rate.
    void PlaceCall();
    void ShowDestinationAndRate();
    // After a call: the portal's new balance and register, then the
    // controls for the next call.
    void RefreshAfterCall();
    void SetConfigurationEnabled(bool enabled);
    // After the account dialog: the portal's word on the credentials, then
    // a new registration with them.
    void ValidateAfterEdit();
    void RefuseAccount();
    void ConnectDialogs();
    bool ConfirmAndEndCall();
    void SaveOnClose();
    // Runs a user action; an error is shown in the booth's error box.
    void Guarded(const std::function<void()>& action);
    void SetupAdminGuard();
    // The credit and answer guards of the window's call, in main_window_guards.cpp.
    void SetupCallGuards();
    void ShowGuardText(const QString& text, bool alarm);
    void ShowAnswerFlags();
    void BuildAdminMenu(QMenu* options);
    // Asks for the administrator PIN when one is set; false refuses.
    bool AdminAllows();

    TProviderAddresses Addresses_;
    TDeviceNameSource DeviceNames_;
    TBoothSettings Settings_;
    TAdminPin AdminPin_;
    std::unique_ptr<TAdminGuard> AdminGuard_;
    TAccountSettings Account_;
    QString DialString_;  // the number last dialled, as sent to the SIP side
    ISipCallPtr CurrentCall_;
    ISipAccountPtr SipAccount_;
    int TickCount_ = 0;
    TMoney LastBalance_;                  // as the portal last gave it
    std::optional<TMoney> CallRate_;      // the current call's, once the portal said
    bool CallAnswered_ = false;
    bool CallOpen_ = false;  // from MakeCall to the window's call's bye
    bool CloseConfirmed_ = false;

    // Children of this window.
    TSipClient* Client_ = nullptr;
    TPortal* Portal_ = nullptr;
    TCallGuards* Guards_ = nullptr;
    QTimer* CallTimer_ = nullptr;  // the per-second call timer
    TAudioDialog* AudioDialog_ = nullptr;
    TAccountDialog* AccountDialog_ = nullptr;
    TAboutBox* AboutBox_ = nullptr;
    TBoothTray* Tray_ = nullptr;
    TTrayAvailability TrayAvailable_;
    TClickableLabel* Logo_ = nullptr;
    TClickableLabel* AccountValue_ = nullptr;
    QLabel* Balance_ = nullptr;
    QLabel* BoothState_ = nullptr;
    QLabel* Phone_ = nullptr;
    QLabel* Destination_ = nullptr;
    QLabel* RatePerMinute_ = nullptr;
    QLabel* Duration_ = nullptr;
    QLabel* TotalCost_ = nullptr;
    QPushButton* CallButton_ = nullptr;
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
    QAction* AutostartAction_ = nullptr;
    QAction* KioskAction_ = nullptr;
    QAction* AdminPinAction_ = nullptr;
};
