// orvelnode: a non-interactive host that runs the library's own main-thread
// loop, loads plug-ins and contexts from a manifest, and serves one client
// over JSON-RPC 2.0 on standard input and output (see docs/protocol.md).
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "Host.h"
#include "Manifest.h"
#include "RpcServer.h"
#include "StdioChannel.h"
#include "WsServer.h"
#include "vorn/contexts/MainComponent.h"
#include "vorn/remote/CommunicationManager.h"
#include "vorn/runtime/MainThreadManager.h"

#ifdef ORVEL_COVERAGE
extern "C" void __gcov_dump();
#endif

namespace {

constexpr const char* kUsage =
    "Usage: orvelnode [OPTIONS] MANIFEST\n"
    "\n"
    "Loads the plug-ins, resource files and contexts MANIFEST names, then serves\n"
    "JSON-RPC 2.0 on standard input and output, one message per line (and over\n"
    "WebSocket with --listen), until end of input, a \"shutdown\" request,\n"
    "SIGINT or SIGTERM.\n"
    "\n"
    "Options:\n"
    "  --listen [HOST:]PORT\n"
    "                   also serve the browser page over HTTP and the same\n"
    "                   JSON-RPC over WebSocket at /rpc (HOST defaults to\n"
    "                   127.0.0.1; PORT 0 picks a free port). Every request\n"
    "                   needs the token printed with the address\n"
    "  --token TEXT     the token clients must show (default: $ORVELNODE_TOKEN,\n"
    "                   else a new random one); at least 16 characters\n"
    "  --no-token       no token (accepted for a loopback listener only)\n"
    "  --allow-origin ORIGIN\n"
    "                   a web origin (\"https://app.example\") whose pages may\n"
    "                   connect besides the host's own page; repeatable\n"
    "  --allow-host NAME\n"
    "                   a Host name a loopback listener answers besides\n"
    "                   127.0.0.1, localhost and [::1]; repeatable\n"
    "  --max-message BYTES\n"
    "                   the largest message read (default 16777216)\n"
    "  --max-connections N\n"
    "                   HTTP and WebSocket connections at once (default 128)\n"
    "  --call-timeout SECONDS\n"
    "                   a call whose function has not answered by then is\n"
    "                   answered with an error (default 30)\n"
    "  -h, --help       show this help and exit\n"
    "  -V, --version    show the version and exit\n"
    "\n"
    "Exit status: 0 after a clean shutdown, 2 for bad arguments or a bad\n"
    "manifest (its file, line and column are printed), 1 for other failures.\n";

// A ";"-separated list: `first`, then the current value of `variable`, then
// `defaults`; pieces that are empty are left out.
std::string PathList(const std::vector<std::string>& first, const char* variable, const char* defaults) {
  std::string list;
  auto add = [&list](const std::string& piece) {
    if (piece.empty()) return;
    if (!list.empty()) list += ';';
    list += piece;
  };
  for (const std::string& dir : first) add(dir);
  if (const char* current = std::getenv(variable)) add(current);
  add(defaults);
  return list;
}

std::string Colons(std::string list) {
  for (char& c : list)
    if (c == ';') c = ':';
  return list;
}

// Where resources, plug-ins and the page's files are by default: the
// build tree's when this executable is the build tree's, else the
// installation's, found from this executable's own folder so that a prefix
// still works after it is moved.
struct DefaultFolders {
  std::string resources, plugins, web;
};

DefaultFolders Defaults() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error).parent_path();
  if (std::filesystem::equivalent(self, ORVEL_BUILD_BIN_DIR, error))
    return {ORVEL_RESOURCE_DIR_BUILD, ORVEL_PLUGIN_DIR_BUILD, ORVEL_WEB_DIR_BUILD};
  auto installed = [&self](const char* relative) { return (self / relative).lexically_normal().string(); };
  return {installed(ORVEL_RESOURCE_DIR_INSTALLED), installed(ORVEL_PLUGIN_DIR_INSTALLED), installed(ORVEL_WEB_DIR_INSTALLED)};
}

// A whole number in [low, high], or nothing.
std::optional<unsigned long long> Number(const std::string& text, unsigned long long low, unsigned long long high) {
  if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
  const unsigned long long value = std::stoull(text);
  if (value < low || value > high) return std::nullopt;
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  std::string manifestFile;
  std::string listenHost;
  std::uint16_t listenPort = 0;
  bool listen = false;
  bool noToken = false;
  std::optional<std::string> token;
  if (const char* fromEnvironment = std::getenv("ORVELNODE_TOKEN")) token = fromEnvironment;
  orvel::Limits limits;
  orvel::WebOptions web;
  auto bad = [](const std::string& what) {
    std::fprintf(stderr, "orvelnode: %s\n%s", what.c_str(), kUsage);
    return 2;
  };
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    // "--name VALUE" or "--name=VALUE".
    std::optional<std::string> value;
    auto takes = [&](const char* name) {
      const std::string prefix = std::string(name) + "=";
      if (arg == name) {
        value = i + 1 < argc ? std::optional<std::string>(argv[++i]) : std::nullopt;
        return true;
      }
      if (arg.rfind(prefix, 0) == 0) {
        value = arg.substr(prefix.size());
        return true;
      }
      return false;
    };
    if (takes("--listen")) {
      if (!value || !orvel::ParseListenAddress(*value, listenHost, listenPort))
        return bad("--listen takes [HOST:]PORT, not '" + value.value_or("") + "'");
      listen = true;
    } else if (takes("--token")) {
      if (!value || value->size() < 16) return bad("--token takes a text of at least 16 characters");
      token = *value;
    } else if (takes("--allow-origin")) {
      if (!value || value->empty()) return bad("--allow-origin takes an origin such as https://app.example");
      web.access.allowedOrigins.push_back(*value);
    } else if (takes("--allow-host")) {
      if (!value || value->empty()) return bad("--allow-host takes a host name");
      web.access.allowedHosts.push_back(*value);
    } else if (takes("--max-message")) {
      const auto n = Number(value.value_or(""), 1024, 1ull << 30);
      if (!n) return bad("--max-message takes a number of bytes from 1024 to 1073741824");
      limits.maxMessage = *n;
    } else if (takes("--max-connections")) {
      const auto n = Number(value.value_or(""), 1, 100000);
      if (!n) return bad("--max-connections takes a number from 1 to 100000");
      web.maxConnections = *n;
    } else if (takes("--call-timeout")) {
      char* end = nullptr;
      const std::string text = value.value_or("");
      const double seconds = std::strtod(text.c_str(), &end);
      if (text.empty() || *end || !(seconds > 0) || seconds > 86400) return bad("--call-timeout takes a number of seconds up to 86400");
      limits.callTimeout = std::chrono::milliseconds(static_cast<long long>(seconds * 1000 + 0.5));
    } else if (arg == "--no-token") {
      noToken = true;
    } else if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "-V" || arg == "--version") {
      std::printf("orvelnode %s (VornCore)\n", ORVEL_VERSION);
      return 0;
    } else if (!arg.empty() && arg[0] == '-') {
      return bad("unknown option '" + arg + "'");
    } else if (!manifestFile.empty()) {
      return bad("one manifest only");
    } else {
      manifestFile = arg;
    }
  }
  if (manifestFile.empty()) return bad("no manifest given");
  const bool loopback = !listen || orvel::IsLoopbackAddress(listenHost);
  if (noToken && !loopback) return bad("--no-token is refused for a listener that is not on a loopback address");
  if (noToken) token = std::string();
  // The token travels in addresses: it keeps to characters a URL carries as they are.
  if (token && !token->empty() &&
      (token->size() < 16 || token->find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~") != std::string::npos))
    return bad("the token (--token or ORVELNODE_TOKEN) needs at least 16 characters among letters, digits and -._~");

  // The library reads its installation path when it loads, and the system
  // loader its search path when the process starts: set both, then start
  // again. Standard output is the protocol channel, so the library's own
  // log lines (which go there) are turned off.
  if (!std::getenv("ORVELNODE_STARTED")) {
    const orvel::Manifest paths = orvel::Manifest::LoadPaths(manifestFile);
    const DefaultFolders defaults = Defaults();
    setenv("KRTInstallPath", PathList(paths.resourcePaths, "KRTInstallPath", defaults.resources.c_str()).c_str(), 1);
    setenv("LD_LIBRARY_PATH", Colons(PathList(paths.pluginPaths, "LD_LIBRARY_PATH", defaults.plugins.c_str())).c_str(), 1);
    unsetenv("VORN_LOGS_ENABLED");
    setenv("ORVELNODE_STARTED", "1", 1);
#ifdef ORVEL_COVERAGE
    __gcov_dump();  // exec drops the process image, and this first start's line counts with it
#endif
    execv("/proc/self/exe", argv);
    std::perror("orvelnode: cannot start");
    return 1;
  }

  if (listen) {
    try {
      web.access.token = token ? *token : orvel::MakeToken();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "orvelnode: %s\n", e.what());
      return 1;
    }
  }

  // The folders the first start put on the loader's path.
  std::vector<std::string> pluginFolders;
  if (const char* path = std::getenv("LD_LIBRARY_PATH"))
    for (std::string_view rest = path; !rest.empty();) {
      const std::size_t colon = rest.find(':');
      if (colon != 0) pluginFolders.emplace_back(rest.substr(0, colon));
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }

  orvel::Manifest manifest;
  try {
    manifest = orvel::Manifest::Load(manifestFile);
  } catch (const orvel::ManifestError& e) {
    std::fprintf(stderr, "orvelnode: %s\n", e.what());
    return 2;
  }

  // Signals end the loop through the main thread like any other request.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGUSR1);  // our own wake-up, at the end
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);  // a client that went away is seen by write()
  std::atomic<bool> ending{false};
  std::thread signalWatcher([&] {
    int received = 0;
    while (sigwait(&signals, &received) == 0 && !ending.load()) {
      if (received == SIGINT || received == SIGTERM) {
        Vorn::SetTimeout([] { VornMainComponent::EndCustomMainThreadLoop(); }, 0);
      }
    }
  });

  int status = 0;
  {
    orvel::RpcServer server([] { VornMainComponent::EndCustomMainThreadLoop(); }, limits);
    orvel::StdioChannel channel(server, [] { VornMainComponent::EndCustomMainThreadLoop(); });
    orvel::WsServer webServer(server, Defaults().web, web);
    VornCommunicationManager_V1::SetMBXNode(&server);
    VornMainComponent::RunCustomMainThreadLoop([&] {
      try {
        orvel::StartHost(manifest, pluginFolders);
      } catch (const orvel::ManifestError& e) {
        std::fprintf(stderr, "orvelnode: %s\n", e.what());
        status = 2;
        VornMainComponent::EndCustomMainThreadLoop();
        return;
      }
      server.WatchContexts();
      if (listen) {
        try {
          webServer.Start(listenHost, listenPort);
        } catch (const std::exception& e) {
          std::fprintf(stderr, "orvelnode: %s\n", e.what());
          status = 1;
          VornMainComponent::EndCustomMainThreadLoop();
          return;
        }
        const bool v6 = listenHost.find(':') != std::string::npos;
        const std::string address = "http://" + (v6 ? "[" + listenHost + "]" : listenHost) + ":" +
                                    std::to_string(webServer.Port()) + "/" +
                                    (web.access.token.empty() ? "" : "?token=" + web.access.token);
        if (!loopback)
          std::fprintf(stderr,
                       "orvelnode: warning: %s is not a loopback address and the traffic is not encrypted; "
                       "put a TLS proxy in front of it (see the README)\n",
                       listenHost.c_str());
        std::fprintf(stderr, "orvelnode: listening on %s\n", address.c_str());
      }
      channel.Start();
    });
    // The watcher may be inside SetTimeout: it must be gone before the
    // main-thread manager is destroyed below.
    ending.store(true);
    pthread_kill(signalWatcher.native_handle(), SIGUSR1);
    signalWatcher.join();
    channel.Stop();
    webServer.Stop();
    VornCommunicationManager_V1::SetMBXNode(nullptr);
    VornMainComponent::Destroy();
  }
  return status;
}
