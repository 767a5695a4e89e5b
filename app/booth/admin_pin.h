// The administrator PIN that keeps customers and clerks away from what
// changes the booth or its money: the account and audio dialogs, the selling
// rates, the day's close corrections, starting with the session and closing
// the program. Kept in the booth's settings file under "Admin/pin" as a
// salted SHA-256, never in clear; no PIN set means nothing is guarded.
//
// TAdminGuard asks for it before each guarded action. Three wrong PINs in a
// row lock the guard for a minute, so a four-digit PIN cannot be tried out
// at the counter; the clock is injected for tests.
//
// Threading: user-interface thread only.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include <QString>

class QSettings;

inline constexpr char kAdminPinKey[] = "Admin/pin";
inline constexpr char kKioskModeKey[] = "Admin/kiosk";

inline constexpr char kPinCaption[] = "PIN de administrador";
inline constexpr char kPinPromptText[] = "Ingrese el PIN de administrador:";
inline constexpr char kWrongPinText[] = "PIN incorrecto.";
inline constexpr char kPinLockedText[] = "Demasiados intentos con un PIN incorrecto. Espere un minuto.";
inline constexpr char kBadNewPinText[] = "El PIN debe tener de 4 a 8 dígitos.";
inline constexpr char kNewPinPromptText[] = "Nuevo PIN de administrador (de 4 a 8 dígitos, vacío para quitarlo):";
inline constexpr char kRepeatPinPromptText[] = "Repita el nuevo PIN:";
inline constexpr char kPinMismatchText[] = "Los dos PIN no coinciden; el PIN no se cambió.";

// The configuration menu's entries of the administrator.
inline constexpr char kAutostartMenuText[] = "Iniciar con la sesión";
inline constexpr char kKioskMenuText[] = "Modo &quiosco";
inline constexpr char kAdminPinMenuText[] = "PIN de &administrador...";

// 4 to 8 digits: what a PIN may be.
bool IsValidAdminPin(const QString& pin);

class TAdminPin {
public:
    // The booth's own settings file.
    TAdminPin();
    // Another file (tests).
    explicit TAdminPin(const QString& fileName);
    ~TAdminPin();
    TAdminPin(const TAdminPin&) = delete;
    TAdminPin& operator=(const TAdminPin&) = delete;

    bool IsSet() const;
    bool Matches(const QString& pin) const;
    // 4 to 8 digits, or empty to remove the PIN; throws std::runtime_error
    // with kBadNewPinText otherwise.
    void Set(const QString& pin);

    // Kiosk mode: full screen, no window decorations, closing asks for the PIN.
    bool KioskMode() const;
    void SetKioskMode(bool value);

private:
    std::unique_ptr<QSettings> Settings_;
};

// Asks the person at the booth for the PIN; empty when they cancelled.
using TPinPrompt = std::function<std::optional<QString>()>;
// Tells them why an action was refused.
using TPinRefusal = std::function<void(const QString& text)>;

class TAdminGuard {
public:
    using TClock = std::function<std::chrono::steady_clock::time_point()>;
    static constexpr int kMaxFailures = 3;
    static constexpr std::chrono::seconds kLockout{60};

    TAdminGuard(const TAdminPin& pin, TPinPrompt prompt, TPinRefusal refusal,
                TClock clock = std::chrono::steady_clock::now);

    // True when the guarded action may go on: no PIN is set, or the right
    // one was typed. A wrong PIN or a cancel refuses it.
    bool Allow();

private:
    const TAdminPin& Pin_;
    TPinPrompt Prompt_;
    TPinRefusal Refusal_;
    TClock Clock_;
    int Failures_ = 0;
    std::optional<std::chrono::steady_clock::time_point> LockedUntil_;
};
