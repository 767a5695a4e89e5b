// The booth's stored values: the account and the chosen devices under the
// group "Account", and the provider addresses that staging and tests put in
// place of the real ones under "Provider". QSettings keeps them in the
// user's configuration folder ($XDG_CONFIG_HOME/Telvira Softphone.conf); the
// file holds the password in clear, so only its owner may read it.
//
// Errors are never raised: an unreadable file reads as empty values and a
// refused write is left to QSettings' status.
#pragma once

#include <memory>

#include <QString>

#include "app/money/money.h"

class QSettings;

inline constexpr char kSettingsOrganization[] = "Telvira Softphone";

struct TAccountSettings {
    QString Username;
    QString Password;
    QString WaveIn;   // capture device name
    QString WaveOut;  // playback device name

    friend bool operator==(const TAccountSettings&, const TAccountSettings&) = default;
};

// The shop as its receipts name it: under the group "Shop".
struct TShopSettings {
    QString Name;
    QString Address;
    QString Booth;  // this booth's name or number
    // The rate per minute offered at checkout for a call the portal never
    // priced; zero when the administrator set none.
    TMoney FallbackRate;

    friend bool operator==(const TShopSettings&, const TShopSettings&) = default;
};

// Provider addresses as stored; empty means "not set".
struct TProviderSettings {
    QString SipServer;
    QString PortalUrl;
    QString WebUrl;
};

class TBoothSettings {
public:
    TBoothSettings();
    ~TBoothSettings();
    TBoothSettings(const TBoothSettings&) = delete;
    TBoothSettings& operator=(const TBoothSettings&) = delete;

    TAccountSettings ReadAccount() const;
    TProviderSettings ReadProvider() const;
    void WriteCredentials(const QString& username, const QString& password);
    void WriteAccount(const TAccountSettings& account);
    // The signalling transport beside the account ("Account/transport"):
    // "udp", "tcp" or "tls"; empty when never chosen.
    QString ReadTransport() const;
    void WriteTransport(const QString& transport);
    // A CA file trusted beside the system's store for the server's TLS
    // certificate ("Account/tlscafile"), for a provider with its own CA;
    // empty: the system's store alone.
    QString ReadTlsCaFile() const;
    void WriteTlsCaFile(const QString& path);
    // The booth's own certificate and key for TLS connections its server
    // opens to it ("Account/tlscert", "Account/tlskey", PEM files); empty:
    // none, TLS reaches the booth only over the connection it opened.
    QString ReadTlsCertificate() const;
    QString ReadTlsKey() const;
    void WriteTlsCertificate(const QString& certificateFile, const QString& keyFile);

    TShopSettings ReadShop() const;
    // Seconds a call may hear nothing from the far end before it is cut
    // (group "Media", key "timeoutseconds"; 30 when absent, 0: never).
    int ReadMediaTimeout() const;
    // The codecs calls offer, in order ("opus,g729,pcmu"; group "Media",
    // key "codecs"); empty: the agent's default list.
    QString ReadCodecs() const;
    void WriteCodecs(const QString& codecs);
    void WriteShop(const TShopSettings& shop);
    // The shop's PostgreSQL database this booth reports to (group "Shop",
    // key "database", a postgresql:// address); empty for a booth alone.
    QString ReadShopDatabase() const;
    void WriteShopDatabase(const QString& url);

    // The administrator PIN that guards the selling rates (group "Admin",
    // key "pin"): kept as a salted SHA-256, never in clear. No PIN stored
    // means nothing is guarded yet.
    bool HasAdminPin() const;
    bool AdminPinMatches(const QString& pin) const;
    // An empty PIN removes the guard.
    void WriteAdminPin(const QString& pin);

    QString FileName() const;

private:
    // Writes to disk now and narrows the file to its owner.
    void Save();

    std::unique_ptr<QSettings> Settings_;
};
