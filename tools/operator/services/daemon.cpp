#include "tools/operator/services/daemon.h"

#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/operator_config.h"
#include "tools/operator/loop/buffer_budget.h"
#include "tools/operator/loop/event_loop.h"
#include "tools/operator/loop/memory.h"
#include "tools/operator/services/service.h"

namespace vokar::operatord {
namespace {

constexpr const char* kProgram = "vokar-operatord";

void complain(const std::string& message)
{
    std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
}

void print_usage(FILE* to)
{
    std::fprintf(to,
                 "usage: %s [--config FILE]\n"
                 "Runs the operator's echo, tunnel and web services as configured in FILE\n"
                 "(default: $VOKAR_OPERATOR_CONF, else the built-in values).\n",
                 kProgram);
}

// Each client costs one to three descriptors; allow as many as permitted.
void raise_descriptor_limit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace

int run_daemon(int argc, char** argv)
{
    std::string config_path;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--config" && i + 1 < argc) {
            config_path = argv[++i];
        } else if (arg.starts_with("--config=")) {
            config_path = std::string(arg.substr(9));
        } else if (arg == "--help" || arg == "-h") {
            print_usage(stdout);
            return 0;
        } else {
            complain("unexpected argument '" + std::string(arg) + "'");
            print_usage(stderr);
            return 2;
        }
    }

    std::string error;
    const auto config = config_path.empty()
                            ? platform::OperatorConfig::from_environment(&error)
                            : platform::OperatorConfig::load_file(config_path, &error);
    if (!config) {
        complain(error);
        return 2;
    }
    const auto selected =
        select_services(config->get(kServicesKey, default_service_list()), &error);
    if (!selected) {
        complain(error);
        return 2;
    }
    const auto limits = Limits::from_config(*config, &error);
    if (!limits) {
        complain(error);
        return 2;
    }

    // Signals arrive through a descriptor on the loop. They are blocked
    // before any thread exists, so every thread inherits the mask.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGINT);
    ::pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    const int signal_fd = ::signalfd(-1, &stop_signals, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signal_fd < 0) {
        complain(std::string("cannot receive signals: ") + std::strerror(errno));
        return 1;
    }
    raise_descriptor_limit();
    tune_allocator();

    EventLoop loop;
    if (!loop.ok()) {
        complain(std::string("cannot create the event loop: ") + std::strerror(errno));
        ::close(signal_fd);
        return 1;
    }
    loop.watch(signal_fd, EPOLLIN, [&](uint32_t) { loop.stop(); });

    BufferBudget budget(limits->buffer_budget);
    const ServiceContext context{loop, *config, *limits, budget};
    std::vector<std::unique_ptr<Service>> services;
    std::string ready = std::string(kProgram) + " ready";
    for (const ServiceEntry* entry : *selected) {
        services.push_back(entry->create(context));
        if (!services.back()->start(&error)) {
            complain(std::string(entry->name) + ": " + error);
            services.clear();
            ::close(signal_fd);
            return 1;
        }
        ready += " " + std::string(entry->name) + "=" + services.back()->endpoint();
    }
    std::printf("%s\n", ready.c_str());
    std::fflush(stdout);

    const bool ran = loop.run();
    const int saved = errno;
    services.clear();
    ::close(signal_fd);
    if (!ran) {
        complain(std::string("event loop failed: ") + std::strerror(saved));
        return 1;
    }
    return 0;
}

} // namespace vokar::operatord
