// Kamailio as the booth's registrar on 127.0.0.1:5060 (users alice/alicepw,
// bob/bobpw, carol/carolpw), run from the configuration kept beside the
// tests, in a scratch folder, stopped with the object.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class TKamailioProcess {
public:
    // `defines` switch options of the configuration on ("NOPROXYAUTH").
    explicit TKamailioProcess(const QStringList& defines = {});
    ~TKamailioProcess();
    TKamailioProcess(const TKamailioProcess&) = delete;
    TKamailioProcess& operator=(const TKamailioProcess&) = delete;

    // False when Kamailio is not installed or did not answer in time.
    bool Ready() const { return Ready_; }
    // Everything it logged (each request it handled).
    QString Log() const;

private:
    bool AnswersOptions();

    QTemporaryDir Dir_;
    QProcess Process_;
    bool Ready_ = false;
};
