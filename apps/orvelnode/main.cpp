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
#include <string>
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
    "                   127.0.0.1; PORT 0 picks a free port)\n"
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

// The page's files: beside the sources in a build tree, else installed.
std::string WebRoot() {
  for (const char* dir : {ORVEL_WEB_DIR_BUILD, ORVEL_WEB_DIR_INSTALLED})
    if (access((std::string(dir) + "/index.html").c_str(), R_OK) == 0) return dir;
  return ORVEL_WEB_DIR_INSTALLED;
}

}  // namespace

int main(int argc, char** argv) {
  std::string manifestFile;
  std::string listenHost;
  std::uint16_t listenPort = 0;
  bool listen = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--listen" || arg.rfind("--listen=", 0) == 0) {
      const std::string value = arg == "--listen" ? (i + 1 < argc ? argv[++i] : "") : arg.substr(9);
      if (!orvel::ParseListenAddress(value, listenHost, listenPort)) {
        std::fprintf(stderr, "orvelnode: --listen takes [HOST:]PORT, not '%s'\n%s", value.c_str(), kUsage);
        return 2;
      }
      listen = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "-V" || arg == "--version") {
      std::printf("orvelnode %s (VornCore)\n", ORVEL_VERSION);
      return 0;
    }
    if (!arg.empty() && arg[0] == '-') {
      std::fprintf(stderr, "orvelnode: unknown option '%s'\n%s", arg.c_str(), kUsage);
      return 2;
    }
    if (!manifestFile.empty()) {
      std::fprintf(stderr, "orvelnode: one manifest only\n%s", kUsage);
      return 2;
    }
    manifestFile = arg;
  }
  if (manifestFile.empty()) {
    std::fprintf(stderr, "orvelnode: no manifest given\n%s", kUsage);
    return 2;
  }

  // The library reads its installation path when it loads, and the system
  // loader its search path when the process starts: set both, then start
  // again. Standard output is the protocol channel, so the library's own
  // log lines (which go there) are turned off.
  if (!std::getenv("ORVELNODE_STARTED")) {
    const orvel::Manifest paths = orvel::Manifest::LoadPaths(manifestFile);
    setenv("KRTInstallPath", PathList(paths.resourcePaths, "KRTInstallPath", ORVEL_RESOURCE_DIR_BUILD ";" ORVEL_RESOURCE_DIR_INSTALLED).c_str(), 1);
    setenv("LD_LIBRARY_PATH",
           Colons(PathList(paths.pluginPaths, "LD_LIBRARY_PATH", ORVEL_PLUGIN_DIR_BUILD ";" ORVEL_PLUGIN_DIR_INSTALLED)).c_str(), 1);
    unsetenv("VORN_LOGS_ENABLED");
    setenv("ORVELNODE_STARTED", "1", 1);
    execv("/proc/self/exe", argv);
    std::perror("orvelnode: cannot start");
    return 1;
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
    orvel::RpcServer server([] { VornMainComponent::EndCustomMainThreadLoop(); });
    orvel::StdioChannel channel(server, [] { VornMainComponent::EndCustomMainThreadLoop(); });
    orvel::WsServer web(server, WebRoot());
    VornCommunicationManager_V1::SetMBXNode(&server);
    VornMainComponent::RunCustomMainThreadLoop([&] {
      try {
        orvel::StartHost(manifest);
      } catch (const orvel::ManifestError& e) {
        std::fprintf(stderr, "orvelnode: %s\n", e.what());
        status = 2;
        VornMainComponent::EndCustomMainThreadLoop();
        return;
      }
      server.WatchContexts();
      if (listen) {
        try {
          web.Start(listenHost, listenPort);
        } catch (const std::exception& e) {
          std::fprintf(stderr, "orvelnode: %s\n", e.what());
          status = 1;
          VornMainComponent::EndCustomMainThreadLoop();
          return;
        }
        std::fprintf(stderr, "orvelnode: listening on http://%s:%u/\n", listenHost.c_str(), web.Port());
      }
      channel.Start();
    });
    // The watcher may be inside SetTimeout: it must be gone before the
    // main-thread manager is destroyed below.
    ending.store(true);
    pthread_kill(signalWatcher.native_handle(), SIGUSR1);
    signalWatcher.join();
    channel.Stop();
    web.Stop();
    VornCommunicationManager_V1::SetMBXNode(nullptr);
    VornMainComponent::Destroy();
  }
  return status;
}
