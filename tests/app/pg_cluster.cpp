#include "tests/app/pg_cluster.h"

#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include <QDir>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QUrl>

namespace {

// Debian keeps the server's programs outside PATH.
QString PgProgram(const QString& name) {
    const QString found = QStandardPaths::findExecutable(name);
    if (!found.isEmpty()) return found;
    for (const char* dir : {"/usr/lib/postgresql/15/bin", "/usr/lib/postgresql/16/bin", "/usr/lib/postgresql/14/bin"}) {
        const QString path = QDir(QString::fromLatin1(dir)).filePath(name);
        if (QFile::exists(path)) return path;
    }
    throw std::runtime_error(("PostgreSQL program not found: " + name).toStdString());
}

// Bound and released at once: the server takes it a moment later.
int FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    if (port == 0) throw std::runtime_error("no free port on 127.0.0.1");
    return port;
}

struct TOwner {
    bool Switch = false;
    uid_t Uid = 0;
    gid_t Gid = 0;
};

// Looked up before any fork: nothing after the fork may allocate.
TOwner ServerOwner() {
    if (::geteuid() != 0) return {};
    const passwd* user = ::getpwnam("postgres");
    if (!user) throw std::runtime_error("running as root and there is no postgres user to run the server as");
    return {true, user->pw_uid, user->pw_gid};
}

}  // namespace

QString ExecError(QSqlDatabase& db, const QString& statement) {
    QSqlQuery query(db);
    return query.exec(statement) ? QString() : query.lastError().text();
}

TPgCluster::TPgCluster() {
    if (!Folder_.isValid()) throw std::runtime_error("no temporary folder for the cluster");
    const TOwner owner = ServerOwner();
    if (owner.Switch && ::chown(QFile::encodeName(Folder_.path()).constData(), owner.Uid, owner.Gid) != 0)
        throw std::runtime_error("cannot give the cluster's folder to postgres");
    DataDir_ = Folder_.filePath(QStringLiteral("data"));
    const QString passwordFile = Folder_.filePath(QStringLiteral("password"));
    {
        QFile file(passwordFile);
        if (!file.open(QIODevice::WriteOnly)) throw std::runtime_error("cannot write the password file");
        file.write(AdminPassword().toUtf8() + '\n');
    }
    if (owner.Switch) (void)::chown(QFile::encodeName(passwordFile).constData(), owner.Uid, owner.Gid);
    QProcess initdb;
    initdb.setProcessChannelMode(QProcess::MergedChannels);
    RunAsOwner(initdb, PgProgram(QStringLiteral("initdb")),
               {QStringLiteral("-D"), DataDir_, QStringLiteral("-U"), AdminUser(), QStringLiteral("--pwfile"),
                passwordFile, QStringLiteral("--auth-host=scram-sha-256"), QStringLiteral("--auth-local=trust"),
                QStringLiteral("--no-sync"), QStringLiteral("-E"), QStringLiteral("UTF8"),
                QStringLiteral("--locale=C")});
    if (!initdb.waitForFinished(120000) || initdb.exitStatus() != QProcess::NormalExit || initdb.exitCode() != 0)
        throw std::runtime_error(("initdb failed: " + initdb.readAll()).toStdString());
    Port_ = FreeLoopbackPort();
    Start();
}

TPgCluster::~TPgCluster() { Stop(); }

void TPgCluster::RunAsOwner(QProcess& process, const QString& program, const QStringList& arguments) const {
    const TOwner owner = ServerOwner();
    process.setChildProcessModifier([owner] {
        if (owner.Switch) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(owner.Gid) != 0 || ::setuid(owner.Uid) != 0) ::_exit(126);
        }
        // After the change of user, which clears it: an immediate shutdown
        // when the test program dies.
        ::prctl(PR_SET_PDEATHSIG, SIGQUIT);
    });
    process.setWorkingDirectory(Folder_.path());
    process.start(program, arguments);
    if (!process.waitForStarted(30000)) throw std::runtime_error(("cannot start " + program).toStdString());
}

void TPgCluster::Start() {
    if (IsRunning()) return;
    Server_ = std::make_unique<QProcess>();
    Server_->setProcessChannelMode(QProcess::MergedChannels);
    Server_->setStandardOutputFile(Folder_.filePath(QStringLiteral("server.log")), QIODevice::Append);
    RunAsOwner(*Server_, PgProgram(QStringLiteral("postgres")),
               {QStringLiteral("-D"), DataDir_, QStringLiteral("-p"), QString::number(Port_), QStringLiteral("-c"),
                QStringLiteral("listen_addresses=127.0.0.1"), QStringLiteral("-c"),
                QStringLiteral("unix_socket_directories=") + Folder_.path(), QStringLiteral("-c"),
                QStringLiteral("fsync=off"), QStringLiteral("-c"), QStringLiteral("max_connections=100")});
    WaitUntilReady();
}

void TPgCluster::WaitUntilReady() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    const QString name = QStringLiteral("pg-cluster-probe");
    while (std::chrono::steady_clock::now() < deadline) {
        if (Server_->state() == QProcess::NotRunning)
            throw std::runtime_error(("postgres ended at start: " + Log()).toStdString());
        bool open = false;
        {
            QSqlDatabase probe = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
            probe.setHostName(QStringLiteral("127.0.0.1"));
            probe.setPort(Port_);
            probe.setDatabaseName(QStringLiteral("postgres"));
            probe.setUserName(AdminUser());
            probe.setPassword(AdminPassword());
            probe.setConnectOptions(QStringLiteral("connect_timeout=2"));
            open = probe.open();
            probe.close();
        }
        QSqlDatabase::removeDatabase(name);
        if (open) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    throw std::runtime_error(("postgres did not take connections within 60 s: " + Log()).toStdString());
}

void TPgCluster::Stop() {
    if (!Server_) return;
    if (Server_->state() != QProcess::NotRunning) {
        ::kill(static_cast<pid_t>(Server_->processId()), SIGINT);
        if (!Server_->waitForFinished(30000)) {
            Server_->kill();
            Server_->waitForFinished(10000);
        }
    }
    Server_.reset();
}

bool TPgCluster::IsRunning() const { return Server_ && Server_->state() != QProcess::NotRunning; }

QString TPgCluster::Log() const {
    QFile file(Folder_.filePath(QStringLiteral("server.log")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll().right(4000)) : QString();
}

QString TPgCluster::Url(const QString& user, const QString& password, const QString& database) const {
    return QStringLiteral("postgresql://%1:%2@127.0.0.1:%3/%4")
        .arg(QString::fromLatin1(QUrl::toPercentEncoding(user)), QString::fromLatin1(QUrl::toPercentEncoding(password)))
        .arg(Port_)
        .arg(database);
}

QSqlDatabase TPgCluster::ConnectAs(const QString& user, const QString& password, const QString& database,
                                   const QString& connectionName) const {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connectionName);
    db.setHostName(QStringLiteral("127.0.0.1"));
    db.setPort(Port_);
    db.setDatabaseName(database);
    db.setUserName(user);
    db.setPassword(password);
    if (!db.open()) throw std::runtime_error(("cannot connect as " + user + ": " + db.lastError().text()).toStdString());
    return db;
}

QSqlDatabase TPgCluster::Connect(const QString& database, const QString& connectionName) const {
    return ConnectAs(AdminUser(), AdminPassword(), database, connectionName);
}

void TPgCluster::CreateDatabase(const QString& name) {
    const QString connection = QStringLiteral("pg-cluster-admin");
    QString error;
    {
        QSqlDatabase db = Connect(QStringLiteral("postgres"), connection);
        error = ExecError(db, QStringLiteral("CREATE DATABASE \"%1\"").arg(name));
    }
    QSqlDatabase::removeDatabase(connection);
    if (!error.isEmpty()) throw std::runtime_error(("CREATE DATABASE " + name + ": " + error).toStdString());
}
