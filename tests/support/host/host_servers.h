/*
 * The parts of the test servers that only run on Linux: the self-signed
 * certificate of the HTTPS server and the tinyproxy launcher. The Linux test
 * programs use them in-process; the Windows test programs reach them through
 * loopback_helper, a Linux program they start (see support/loopback_helper.h).
 */
#pragma once
#include <string>
#include <vector>

#include <sys/types.h>

namespace vt_test {

/* PEM files of an EC key and a certificate for CN "localhost" that it signs
 * itself, valid from an hour ago for 30 days. */
bool WriteSelfSignedCertificate(const std::string &certFile, const std::string &keyFile);

extern const char kTinyProxyPath[];

/* Starts tinyproxy on 127.0.0.1:`port` with a configuration written into `dir`
 * (its log: dir/tinyproxy.log, its output: dir/stdout.txt) and waits until it
 * accepts connections. With a user name it demands basic authentication;
 * CONNECT goes only to `connectPorts` (none when empty). Its process id, or -1. */
pid_t StartTinyProxy(const std::string &dir, int port, const std::string &user, const std::string &password,
                     const std::vector<int> &connectPorts);
/* SIGTERM, then SIGKILL after 3 s; reaps the process. */
void StopTinyProxy(pid_t pid);

}  // namespace vt_test
