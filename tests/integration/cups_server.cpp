// See cups_server.h. The policy is the stock one (admin operations need
// @SYSTEM, which is root here), so the tests also prove that root gets
// administrative access over the local socket without a password.
#include "tests/integration/cups_server.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace vltr::test {

namespace {

const char *const kCupsd = "/usr/sbin/cupsd";
const char *const kCupsLib = "/usr/lib/cups";

const char *const kPolicy = R"(<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  JobPrivateAccess default
  JobPrivateValues default
  SubscriptionPrivateAccess default
  SubscriptionPrivateValues default
  <Limit Create-Job Print-Job Print-URI Validate-Job>
    Order deny,allow
  </Limit>
  <Limit Send-Document Send-URI Hold-Job Release-Job Restart-Job Purge-Jobs Set-Job-Attributes Create-Job-Subscription Renew-Subscription Cancel-Subscription Get-Notifications Reprocess-Job Cancel-Current-Job Suspend-Current-Job Resume-Job Cancel-My-Jobs Close-Job CUPS-Move-Job CUPS-Get-Document>
    Require user @OWNER @SYSTEM
    Order deny,allow
  </Limit>
  <Limit CUPS-Add-Modify-Printer CUPS-Delete-Printer CUPS-Add-Modify-Class CUPS-Delete-Class CUPS-Set-Default CUPS-Get-Devices>
    AuthType Default
    Require user @SYSTEM
    Order deny,allow
  </Limit>
  <Limit Pause-Printer Resume-Printer Enable-Printer Disable-Printer Pause-Printer-After-Current-Job Hold-New-Jobs Release-Held-New-Jobs Deactivate-Printer Activate-Printer Restart-Printer Shutdown-Printer Startup-Printer Promote-Job Schedule-Job-After Cancel-Jobs CUPS-Accept-Jobs CUPS-Reject-Jobs>
    AuthType Default
    Require user @SYSTEM
    Order deny,allow
  </Limit>
  <Limit Cancel-Job CUPS-Authenticate-Job>
    Require user @OWNER @SYSTEM
    Order deny,allow
  </Limit>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
)";

std::string backendScript() {
  return sourceFile("tests/fixtures/cups_test_backend");
}

} // namespace

bool CupsServer::installed() {
  return access(kCupsd, X_OK) == 0 && access("/usr/bin/lpstat", X_OK) == 0;
}

CupsServer::CupsServer(const std::string &extraConfig) {
  const std::string root = dir_.path();
  socket_ = dir_.file("cups.sock");
  chmod(root.c_str(), 0755); // cupsd's helpers run as lp
  for (const char *sub :
       {"conf", "spool", "spool/tmp", "cache", "state", "log", "bin", "bin/backend", "control"})
    fs::create_directories(dir_.file(sub));
  // ServerBin: the installed helpers, plus our backend. cupsd runs a backend
  // of mode 0700 as root and insists that it is owned by root and not
  // writable by others, so it is copied rather than linked.
  for (const char *sub : {"daemon", "filter", "notifier", "cgi-bin", "driver", "monitor"}) {
    std::string installed = std::string(kCupsLib) + "/" + sub;
    if (fs::exists(installed))
      fs::create_directory_symlink(installed, dir_.file(std::string("bin/") + sub));
  }
  std::string backend = dir_.file("bin/backend/vltrtest");
  fs::copy_file(backendScript(), backend);
  chmod(backend.c_str(), 0700);
  chmod(dir_.file("control").c_str(), 0777);

  writeFile(dir_.file("conf/cupsd.conf"), "LogLevel debug\nListen " + socket_ +
                                              "\nBrowsing No\nWebInterface No\n"
                                              "DefaultAuthType Basic\nPreserveJobFiles Yes\n" +
                                              kPolicy + extraConfig + "\n");
  writeFile(dir_.file("conf/cups-files.conf"),
            "SystemGroup root\nServerRoot " + dir_.file("conf") + "\nRequestRoot " +
                dir_.file("spool") + "\nTempDir " + dir_.file("spool/tmp") + "\nCacheDir " +
                dir_.file("cache") + "\nStateDir " + dir_.file("state") + "\nServerBin " +
                dir_.file("bin") + "\nErrorLog " + dir_.file("log/error_log") + "\nAccessLog " +
                dir_.file("log/access_log") + "\nPageLog " + dir_.file("log/page_log") +
                "\nFileDevice Yes\n");
  cupsd_ = std::make_unique<ChildProcess>(std::vector<std::string>{
      kCupsd, "-f", "-c", dir_.file("conf/cupsd.conf"), "-s", dir_.file("conf/cups-files.conf")});
  started_ = waitFor(
      [&] {
        if (!cupsd_->running())
          return true;
        return client({"lpstat", "-r"}).out.find("scheduler is running") != std::string::npos;
      },
      std::chrono::seconds(30));
  started_ = started_ && cupsd_->running();
  if (!started_)
    error_ = "cupsd did not start: " + cupsd_->err() + readFile(dir_.file("log/error_log"));
}

// cupsd stops its backends on SIGTERM; SIGKILL would leave them behind.
CupsServer::~CupsServer() {
  for (const auto &entry : fs::directory_iterator(dir_.file("control")))
    if (entry.path().extension() == ".reason")
      writeFile(entry.path().parent_path().string() + "/" + entry.path().stem().string() +
                    ".release",
                "");
  if (cupsd_ && cupsd_->running()) {
    cupsd_->signal(SIGTERM);
    cupsd_->wait(std::chrono::seconds(20));
  }
}

ProcessResult CupsServer::client(const std::vector<std::string> &argv) const {
  return runProcess(argv, env(), std::chrono::seconds(30));
}

std::string CupsServer::lpstat(const std::vector<std::string> &args) const {
  std::vector<std::string> argv = {"lpstat"};
  argv.insert(argv.end(), args.begin(), args.end());
  return client(argv).out;
}

bool CupsServer::addQueue(const std::string &name, const std::string &uri) {
  ProcessResult result = client({"lpadmin", "-p", name, "-v", uri, "-E"});
  lastOutput_ = result.out + result.err;
  if (result.exitCode != 0)
    error_ = "lpadmin -p " + name + ": " + lastOutput_;
  return result.exitCode == 0;
}

bool CupsServer::addBackendQueue(const std::string &name) {
  // The reason file marks the queue for the release at shutdown.
  writeFile(control(name) + ".reason", "");
  return addQueue(name, "vltrtest:" + control(name));
}

void CupsServer::setReason(const std::string &queue, const std::string &reason) {
  writeFile(control(queue) + ".reason", reason);
}

void CupsServer::release(const std::string &queue) {
  writeFile(control(queue) + ".release", "");
}

void CupsServer::hold(const std::string &queue) {
  std::filesystem::remove(control(queue) + ".release");
}

int CupsServer::backendRuns(const std::string &queue) const {
  std::string runs = readFile(control(queue) + ".runs");
  int count = 0;
  for (char c : runs)
    count += c == '\n' ? 1 : 0;
  return count;
}

int CupsServer::submit(const std::string &queue, const std::string &title, const std::string &user,
                       std::size_t bytes, bool held, const std::vector<std::string> &options) {
  std::string file = dir_.file("document" + std::to_string(++files_));
  writeFile(file, std::string(bytes, 'x'));
  std::vector<std::string> argv = {"lp", "-d", queue, "-t", title, "-U", user};
  if (held)
    argv.insert(argv.end(), {"-o", "job-hold-until=indefinite"});
  for (const auto &option : options)
    argv.insert(argv.end(), {"-o", option});
  argv.push_back(file);
  ProcessResult result = client(argv);
  lastOutput_ = result.out + result.err;
  // "request id is QUEUE-17 (1 file(s))"
  auto dash = result.out.rfind('-', result.out.find(" ("));
  if (result.exitCode != 0 || dash == std::string::npos)
    return 0;
  return std::atoi(result.out.c_str() + dash + 1);
}

} // namespace vltr::test
