/* Self-signed certificate and tinyproxy launcher (Linux only). */
#include "support/host/host_servers.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

extern char **environ;

namespace vt_test {

bool WriteSelfSignedCertificate(const std::string &certFile, const std::string &keyFile) {
    EVP_PKEY *key = EVP_EC_gen("prime256v1");
    X509 *cert = X509_new();
    bool ok = key && cert;
    if (ok) {
        X509_set_version(cert, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
        X509_gmtime_adj(X509_getm_notAfter(cert), 30L * 24 * 3600);
        X509_set_pubkey(cert, key);
        X509_NAME *name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("localhost"),
                                   -1, -1, 0);
        X509_set_issuer_name(cert, name);
        ok = X509_sign(cert, key, EVP_sha256()) > 0;
    }
    if (ok) {
        FILE *f = fopen(certFile.c_str(), "w");
        ok = f && PEM_write_X509(f, cert) == 1;
        if (f) fclose(f);
    }
    if (ok) {
        FILE *f = fopen(keyFile.c_str(), "w");
        ok = f && PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
        if (f) fclose(f);
    }
    X509_free(cert);
    EVP_PKEY_free(key);
    return ok;
}

const char kTinyProxyPath[] = "/usr/bin/tinyproxy";

static bool Accepts(int port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    bool ok = connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) == 0;
    close(fd);
    return ok;
}

static void Pause10ms() {
    timespec pause{0, 10 * 1000 * 1000};
    nanosleep(&pause, nullptr);
}

pid_t StartTinyProxy(const std::string &dir, int port, const std::string &user, const std::string &password,
                     const std::vector<int> &connectPorts) {
    std::string conf;
    conf += "Port " + std::to_string(port) + "\n";
    conf += "Listen 127.0.0.1\n";
    conf += "Timeout 30\n";
    conf += "MaxClients 20\n";
    conf += "LogFile \"" + dir + "/tinyproxy.log\"\n";
    conf += "LogLevel Info\n";
    conf += "Allow 127.0.0.1\n";
    if (geteuid() == 0) conf += "User nobody\nGroup nogroup\n";
    if (!user.empty()) conf += "BasicAuth " + user + " " + password + "\n";
    if (connectPorts.empty()) conf += "ConnectPort 0\n";
    for (int p : connectPorts) conf += "ConnectPort " + std::to_string(p) + "\n";
    const std::string confPath = dir + "/tinyproxy.conf";
    FILE *f = fopen(confPath.c_str(), "w");
    if (!f) return -1;
    const bool written = fwrite(conf.data(), 1, conf.size(), f) == conf.size();
    if (fclose(f) != 0 || !written) return -1;
    /* The log folder must be writable after tinyproxy drops its privileges. */
    chmod(dir.c_str(), 0777);

    char *argv[] = {const_cast<char *>(kTinyProxyPath), const_cast<char *>("-d"), const_cast<char *>("-c"),
                    const_cast<char *>(confPath.c_str()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string out = dir + "/stdout.txt";
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, kTinyProxyPath, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    for (int i = 0; i < 500; ++i) {
        if (Accepts(port)) return pid;
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) return -1;
        Pause10ms();
    }
    StopTinyProxy(pid);
    return -1;
}

void StopTinyProxy(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 300; ++i) {
        if (waitpid(pid, &status, WNOHANG) == pid) return;
        Pause10ms();
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
}

}  // namespace vt_test
