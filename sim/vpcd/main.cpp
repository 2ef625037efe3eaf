// cardsim-vpcd: serves one simulated card to a real pcscd through the vpcd
// virtual reader driver, until stopped.
#include "VpcdLink.h"

#include <cardsim/Card.h>
#include <cardsim/Personalisations.h>
#include <cardsim/TestCa.h>

#include <botan/pem.h>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using cardsim::vpcd::Bytes;
using cardsim::vpcd::Control;
using cardsim::vpcd::VpcdLink;

constexpr const char* kUsage =
    "Usage: cardsim-vpcd [--host HOST] [--port PORT] [--verbose] [--count-file FILE]\n"
    "                    [PERSONALISATION]\n"
    "       cardsim-vpcd --list   (prints the personalisation names)\n"
    "       cardsim-vpcd --ca-certificate FILE   (writes the PEM certificate of the CA\n"
    "                                            that issued the cards' certificates; - for stdout)\n"
    "Serves one simulated card (default DEF50) to pcscd through the vpcd reader\n"
    "driver (default 127.0.0.1:35963, reader \"Virtual PCD 00 00\").\n"
    "Commands on standard input: remove, insert, transcript, clear, quit.\n"
    "Signals: SIGUSR1 prints the transcript, SIGUSR2 removes or re-inserts the\n"
    "card, SIGINT and SIGTERM stop.\n"
    "--count-file FILE: FILE always holds the number of APDUs served so far.\n";

constexpr int kReconnectMilliseconds = 200;
// The transcript keeps only the most recent exchanges of a long session.
constexpr std::size_t kTranscriptLength = 4096;

struct Options {
    std::string host = "127.0.0.1";
    uint16_t port = 35963;
    bool verbose = false;
    bool list = false;
    std::string countFile;
    std::string caCertificateFile;
    std::string personalisation = cardsim::kDefaultPersonalisation;
};

__attribute__((format(printf, 1, 2))) void Say(const char* format, ...)
{
    std::va_list args;
    va_start(args, format);
    std::fprintf(stderr, "cardsim-vpcd: ");
    std::vfprintf(stderr, format, args);
    std::fprintf(stderr, "\n");
    va_end(args);
}

std::string Hex(const Bytes& bytes)
{
    std::string text;
    char digits[4];
    for (const uint8_t byte : bytes) {
        std::snprintf(digits, sizeof digits, text.empty() ? "%02X" : " %02X", byte);
        text += digits;
    }
    return text;
}

bool ParseOptions(int argc, char** argv, Options& options)
{
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--ca-certificate" && i + 1 < argc && argv[i + 1][0] != '\0') {
            options.caCertificateFile = argv[++i];
        } else if ((arg == "--host" || arg == "--port" || arg == "--count-file") && i + 1 < argc) {
            const std::string value = argv[++i];
            if (arg == "--host") {
                options.host = value;
                continue;
            }
            if (arg == "--count-file") {
                options.countFile = value;
                continue;
            }
            char* end = nullptr;
            const unsigned long port = std::strtoul(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || port == 0 || port > 0xFFFF) {
                return false;
            }
            options.port = uint16_t(port);
        } else if (arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "--list") {
            options.list = true;
        } else if (!arg.empty() && arg[0] != '-') {
            positional.push_back(arg);
        } else {
            return false;
        }
    }
    if (positional.size() > 1) {
        return false;
    }
    if (!positional.empty()) {
        options.personalisation = positional[0];
    }
    return true;
}

int WriteCaCertificate(const std::string& file)
{
    const std::string pem = Botan::PEM_Code::encode(cardsim::TestCaCertificate(), "CERTIFICATE");
    FILE* out = file == "-" ? stdout : std::fopen(file.c_str(), "w");
    if (out == nullptr) {
        std::fprintf(stderr, "cardsim-vpcd: %s: %s\n", file.c_str(), std::strerror(errno));
        return 1;
    }
    const bool written = std::fwrite(pem.data(), 1, pem.size(), out) == pem.size();
    if ((out == stdout ? std::fflush(out) : std::fclose(out)) != 0 || !written) {
        std::fprintf(stderr, "cardsim-vpcd: cannot write %s\n", file.c_str());
        return 1;
    }
    return 0;
}

class Server {
public:
    Server(Options options, std::unique_ptr<cardsim::Card> card)
        : options_(std::move(options)), card_(std::move(card))
    {
    }
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;
    ~Server()
    {
        if (countFd_ >= 0) {
            ::close(countFd_);
        }
    }

    // Runs until a stop signal or "quit"; returns the exit status.
    int Run(int signalFd)
    {
        bool stdinOpen = true;
        while (running_) {
            if (inserted_ && !link_.Connected()) {
                if (link_.Connect(options_.host, options_.port)) {
                    Say("card inserted (connected to %s:%u)", options_.host.c_str(),
                        unsigned(options_.port));
                }
            }
            std::vector<pollfd> fds = {{signalFd, POLLIN, 0}};
            if (stdinOpen) {
                fds.push_back({STDIN_FILENO, POLLIN, 0});
            }
            if (link_.Connected()) {
                fds.push_back({link_.Fd(), POLLIN, 0});
            }
            const int timeout = inserted_ && !link_.Connected() ? kReconnectMilliseconds : -1;
            if (::poll(fds.data(), fds.size(), timeout) < 0) {
                continue;  // EINTR
            }
            for (const pollfd& fd : fds) {
                if ((fd.revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
                    continue;
                }
                if (fd.fd == signalFd) {
                    HandleSignal(signalFd);
                } else if (fd.fd == STDIN_FILENO) {
                    stdinOpen = HandleCommandLine();
                } else if (link_.Connected()) {
                    HandleMessage();
                }
            }
        }
        link_.Close();
        return 0;
    }

private:
    void HandleSignal(int signalFd)
    {
        signalfd_siginfo info{};
        if (::read(signalFd, &info, sizeof info) != ssize_t(sizeof info)) {
            return;
        }
        if (info.ssi_signo == SIGUSR1) {
            PrintTranscript();
        } else if (info.ssi_signo == SIGUSR2) {
            SetInserted(!inserted_);
        } else {
            running_ = false;
        }
    }

    // False once standard input is closed.
    bool HandleCommandLine()
    {
        char buffer[256];
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            return got < 0 && errno == EINTR;
        }
        pendingInput_.append(buffer, size_t(got));
        for (size_t end; (end = pendingInput_.find('\n')) != std::string::npos;) {
            RunCommand(pendingInput_.substr(0, end));
            pendingInput_.erase(0, end + 1);
        }
        return true;
    }

    void RunCommand(std::string command)
    {
        while (!command.empty() && (command.back() == ' ' || command.back() == '\r')) {
            command.pop_back();
        }
        if (command == "remove") {
            SetInserted(false);
        } else if (command == "insert") {
            SetInserted(true);
        } else if (command == "transcript") {
            PrintTranscript();
        } else if (command == "clear") {
            transcript_.clear();
        } else if (command == "quit") {
            running_ = false;
        } else if (!command.empty()) {
            Say("unknown command \"%s\" (remove, insert, transcript, clear, quit)",
                command.c_str());
        }
    }

    void SetInserted(bool inserted)
    {
        if (inserted == inserted_) {
            return;
        }
        inserted_ = inserted;
        if (!inserted) {
            link_.Close();
            Say("card removed");
        }
    }

    void PrintTranscript()
    {
        for (const auto& [command, response] : transcript_) {
            std::printf("> %s\n< %s\n", Hex(command).c_str(), Hex(response).c_str());
        }
        std::printf("(%zu commands)\n", transcript_.size());
        std::fflush(stdout);
    }

    void HandleMessage()
    {
        const std::optional<Bytes> message = link_.Receive();
        if (!message) {
            Say("driver closed the connection; reconnecting");
            return;
        }
        if (message->size() == 1) {
            HandleControl(Control((*message)[0]));
            return;
        }
        Bytes response = card_->Transmit(*message);
        if (options_.verbose) {
            Say("> %s", Hex(*message).c_str());
            Say("< %s", Hex(response).c_str());
        }
        if (transcript_.size() == kTranscriptLength) {
            transcript_.pop_front();
        }
        transcript_.emplace_back(*message, response);
        CountApdu();
        link_.Send(response);
    }

    // Rewrites the count file in place, so a reader never sees it empty.
    void CountApdu()
    {
        ++apduCount_;
        if (options_.countFile.empty()) {
            return;
        }
        if (countFd_ < 0) {
            countFd_ = ::open(options_.countFile.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        }
        char text[32];
        const int length = std::snprintf(text, sizeof text, "%20llu\n", apduCount_);
        if (countFd_ >= 0 && ::pwrite(countFd_, text, size_t(length), 0) != length) {
            Say("cannot write the count file %s", options_.countFile.c_str());
        }
    }

    void HandleControl(Control control)
    {
        switch (control) {
        case Control::PowerOn:
        case Control::Reset:
            card_->Reset();
            break;
        case Control::GetAtr:
            link_.Send(card_->Atr());
            break;
        case Control::PowerOff:
            break;
        }
    }

    Options options_;
    std::unique_ptr<cardsim::Card> card_;
    VpcdLink link_;
    std::deque<std::pair<Bytes, Bytes>> transcript_;  // the most recent exchanges
    std::string pendingInput_;
    bool inserted_ = true;
    bool running_ = true;
    unsigned long long apduCount_ = 0;
    int countFd_ = -1;
};

}  // namespace

int main(int argc, char** argv)
{
    // Blocked before any thread exists (the card model may start some), so
    // that every thread inherits the mask and the signals reach the signalfd.
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : {SIGINT, SIGTERM, SIGUSR1, SIGUSR2}) {
        sigaddset(&signals, signal);
    }
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (options.list) {
        for (const std::string& name : cardsim::PersonalisationNames()) {
            std::printf("%s\n", name.c_str());
        }
        return 0;
    }
    if (!options.caCertificateFile.empty()) {
        return WriteCaCertificate(options.caCertificateFile);
    }
    std::unique_ptr<cardsim::Card> card;
    try {
        card = cardsim::MakePersonalisation(options.personalisation);
    } catch (const std::invalid_argument&) {
        std::fprintf(stderr, "cardsim-vpcd: unknown personalisation \"%s\"; known:",
                     options.personalisation.c_str());
        for (const std::string& name : cardsim::PersonalisationNames()) {
            std::fprintf(stderr, " %s", name.c_str());
        }
        std::fprintf(stderr, "\n");
        return 2;
    }
    const int signalFd = ::signalfd(-1, &signals, SFD_CLOEXEC);
    if (signalFd < 0) {
        std::perror("cardsim-vpcd: signalfd");
        return 1;
    }
    Say("serving %s, ATR %s", options.personalisation.c_str(), Hex(card->Atr()).c_str());
    Server server(options, std::move(card));
    const int status = server.Run(signalFd);
    ::close(signalFd);
    return status;
}
