// Benchmark of a PKCS#11 module on a card: for each operation, the APDUs the
// card received and the host time per call; with a second module, the same
// figures side by side and their ratio.
//
// The APDU count comes from a file that the simulated card's vpcd bridge
// rewrites after every command (cardsim-vpcd --count-file); without it the
// APDU column stays empty. Nothing here asserts anything: it prints figures.
//
// With --pcsc-reader it also measures the PC/SC service itself on that
// reader: what one APDU and one service call (such as the begin or end of a
// transaction) cost, which every card call of a module pays on top of its
// own work.
//
// Usage: brelt-bench --module PATH [--pin PIN] [--label TEXT]
//                    [--compare PATH [--compare-pin PIN] [--compare-label TEXT]]
//                    [--apdu-count-file FILE] [--repeat N] [--pcsc-reader NAME]

#include <dlfcn.h>
#include <p11-kit/pkcs11.h>
#include <sys/wait.h>
#include <unistd.h>
#include <winscard.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    std::string module;
    std::string pin = "1234";
    std::string label;
    std::string compare;
    std::string comparePin;
    std::string compareLabel;
    std::string apduCountFile;
    std::string pcscReader;
    int repeat = 20;
};

// One measured figure of one module.
struct Figure {
    std::optional<double> apdus;         // per call; empty: not counted
    std::optional<double> microseconds;  // host time per call; empty: not timed
    std::string note;                    // why a figure is missing
};

class ApduCounter {
public:
    explicit ApduCounter(std::string path) : path_(std::move(path)) {}

    bool Available() const { return !path_.empty(); }

    std::optional<long> Read() const
    {
        if (path_.empty()) {
            return std::nullopt;
        }
        std::ifstream in(path_);
        long count = 0;
        if (!(in >> count)) {
            return 0;
        }
        return count;
    }

private:
    std::string path_;
};

std::string ResultCode(CK_RV rv)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(rv));
    return text;
}

[[noreturn]] void Fail(const std::string& what, CK_RV rv)
{
    std::fprintf(stderr, "brelt-bench: %s failed: 0x%08lX\n", what.c_str(), static_cast<unsigned long>(rv));
    std::exit(1);
}

class Module {
public:
    explicit Module(const std::string& path)
    {
        handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) {
            std::fprintf(stderr, "brelt-bench: cannot load %s: %s\n", path.c_str(), ::dlerror());
            std::exit(1);
        }
        auto getList = reinterpret_cast<CK_C_GetFunctionList>(::dlsym(handle_, "C_GetFunctionList"));
        if (getList == nullptr || getList(&f_) != CKR_OK || f_ == nullptr) {
            std::fprintf(stderr, "brelt-bench: %s has no usable C_GetFunctionList\n", path.c_str());
            std::exit(1);
        }
    }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;
    // The module stays loaded: some keep worker threads after C_Finalize.

    CK_FUNCTION_LIST* operator->() const { return f_; }

private:
    void* handle_ = nullptr;
    CK_FUNCTION_LIST* f_ = nullptr;
};

double MicrosecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// Runs `body` `times` times; the APDUs and time per run.
Figure Measure(const ApduCounter& counter, int times, const std::function<void()>& body)
{
    const std::optional<long> before = counter.Read();
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < times; ++i) {
        body();
    }
    Figure figure;
    figure.microseconds = MicrosecondsSince(start) / times;
    if (const std::optional<long> after = counter.Read(); before && after) {
        figure.apdus = double(*after - *before) / times;
    }
    return figure;
}

std::vector<CK_SLOT_ID> SlotsWithToken(const Module& m)
{
    CK_ULONG count = 0;
    CK_RV rv = m->C_GetSlotList(CK_TRUE, nullptr, &count);
    if (rv != CKR_OK) {
        Fail("C_GetSlotList", rv);
    }
    std::vector<CK_SLOT_ID> slots(count);
    if (count > 0 && (rv = m->C_GetSlotList(CK_TRUE, slots.data(), &count)) != CKR_OK) {
        Fail("C_GetSlotList", rv);
    }
    slots.resize(count);
    return slots;
}

// The attributes a client asks of every object when it lists a token.
const std::vector<CK_ATTRIBUTE_TYPE> kListedAttributes = {
    CKA_CLASS,   CKA_TOKEN,   CKA_PRIVATE,  CKA_LABEL,           CKA_ID,      CKA_KEY_TYPE,
    CKA_SIGN,    CKA_DECRYPT, CKA_MODULUS,  CKA_PUBLIC_EXPONENT, CKA_VALUE,   CKA_SUBJECT,
    CKA_ISSUER,  CKA_SERIAL_NUMBER,         CKA_CERTIFICATE_TYPE,
};

std::vector<CK_OBJECT_HANDLE> FindAll(const Module& m, CK_SESSION_HANDLE session)
{
    CK_RV rv = m->C_FindObjectsInit(session, nullptr, 0);
    if (rv != CKR_OK) {
        Fail("C_FindObjectsInit", rv);
    }
    std::vector<CK_OBJECT_HANDLE> objects;
    CK_OBJECT_HANDLE batch[16];
    CK_ULONG found = 0;
    do {
        if ((rv = m->C_FindObjects(session, batch, 16, &found)) != CKR_OK) {
            Fail("C_FindObjects", rv);
        }
        objects.insert(objects.end(), batch, batch + found);
    } while (found > 0);
    m->C_FindObjectsFinal(session);
    return objects;
}

// Every listed attribute of every object, each as a size query and then a read.
int ReadEveryAttribute(const Module& m, CK_SESSION_HANDLE session, const std::vector<CK_OBJECT_HANDLE>& objects)
{
    int calls = 0;
    std::vector<unsigned char> buffer;
    for (const CK_OBJECT_HANDLE object : objects) {
        for (const CK_ATTRIBUTE_TYPE type : kListedAttributes) {
            CK_ATTRIBUTE attribute{type, nullptr, 0};
            ++calls;
            if (m->C_GetAttributeValue(session, object, &attribute, 1) != CKR_OK ||
                attribute.ulValueLen == CK_UNAVAILABLE_INFORMATION) {
                continue;
            }
            buffer.resize(attribute.ulValueLen + 1);
            attribute.pValue = buffer.data();
            ++calls;
            m->C_GetAttributeValue(session, object, &attribute, 1);
        }
    }
    return calls;
}

std::optional<CK_OBJECT_HANDLE> FindSigningKey(const Module& m, CK_SESSION_HANDLE session)
{
    CK_OBJECT_CLASS keyClass = CKO_PRIVATE_KEY;
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE pattern[] = {{CKA_CLASS, &keyClass, sizeof keyClass}, {CKA_SIGN, &yes, sizeof yes}};
    if (m->C_FindObjectsInit(session, pattern, 2) != CKR_OK) {
        return std::nullopt;
    }
    CK_OBJECT_HANDLE key = 0;
    CK_ULONG found = 0;
    const CK_RV rv = m->C_FindObjects(session, &key, 1, &found);
    m->C_FindObjectsFinal(session);
    if (rv != CKR_OK || found == 0) {
        return std::nullopt;
    }
    return key;
}

// A SHA-256 DigestInfo, as a TLS or CMS client hands it to CKM_RSA_PKCS.
std::vector<unsigned char> DigestInfo()
{
    std::vector<unsigned char> info = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65,
                                       0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
    for (int i = 0; i < 32; ++i) {
        info.push_back(static_cast<unsigned char>(i));
    }
    return info;
}

// A session RSA public key with the modulus and exponent of `key`; nullopt
// when the module cannot give them or make the key.
std::optional<CK_OBJECT_HANDLE> SessionPublicKey(const Module& m, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key)
{
    std::vector<unsigned char> modulus(1024), exponent(64);
    CK_ATTRIBUTE values[] = {{CKA_MODULUS, modulus.data(), modulus.size()},
                             {CKA_PUBLIC_EXPONENT, exponent.data(), exponent.size()}};
    if (m->C_GetAttributeValue(session, key, values, 2) != CKR_OK) {
        return std::nullopt;
    }
    CK_OBJECT_CLASS keyClass = CKO_PUBLIC_KEY;
    CK_KEY_TYPE keyType = CKK_RSA;
    CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
    CK_ULONG bits = values[0].ulValueLen * 8;
    CK_ATTRIBUTE attributes[] = {{CKA_CLASS, &keyClass, sizeof keyClass},
                                 {CKA_KEY_TYPE, &keyType, sizeof keyType},
                                 {CKA_TOKEN, &no, sizeof no},
                                 {CKA_VERIFY, &yes, sizeof yes},
                                 {CKA_MODULUS_BITS, &bits, sizeof bits},
                                 {CKA_MODULUS, modulus.data(), values[0].ulValueLen},
                                 {CKA_PUBLIC_EXPONENT, exponent.data(), values[1].ulValueLen}};
    CK_OBJECT_HANDLE handle = 0;
    if (m->C_CreateObject(session, attributes, 7, &handle) != CKR_OK) {
        return std::nullopt;
    }
    return handle;
}

// Load time and resident memory of dlopen + C_GetFunctionList, in a fresh
// child process each time so that nothing is shared between runs.
std::pair<Figure, Figure> MeasureLoad(const std::string& path, int runs)
{
    auto residentKiB = [] {
        std::ifstream status("/proc/self/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("VmRSS:", 0) == 0) {
                return std::atol(line.c_str() + 6);
            }
        }
        return 0L;
    };
    std::vector<double> times;
    std::vector<double> memory;
    for (int i = 0; i < runs; ++i) {
        int pipeFds[2];
        if (::pipe(pipeFds) != 0) {
            break;
        }
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(pipeFds[0]);
            const long before = residentKiB();
            const Clock::time_point start = Clock::now();
            void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
            CK_FUNCTION_LIST* list = nullptr;
            if (handle != nullptr) {
                if (auto get = reinterpret_cast<CK_C_GetFunctionList>(::dlsym(handle, "C_GetFunctionList"))) {
                    get(&list);
                }
            }
            const double result[2] = {MicrosecondsSince(start), double(residentKiB() - before)};
            ssize_t written = ::write(pipeFds[1], result, sizeof result);
            ::_exit(handle != nullptr && list != nullptr && written == sizeof result ? 0 : 1);
        }
        ::close(pipeFds[1]);
        double result[2] = {0, 0};
        const bool got = ::read(pipeFds[0], result, sizeof result) == sizeof result;
        ::close(pipeFds[0]);
        int status = 0;
        ::waitpid(child, &status, 0);
        if (got && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
            times.push_back(result[0]);
            memory.push_back(result[1]);
        }
    }
    auto median = [](std::vector<double> values) -> std::optional<double> {
        if (values.empty()) {
            return std::nullopt;
        }
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    Figure time;
    time.microseconds = median(times);
    Figure rss;
    rss.microseconds = median(memory);  // KiB, printed in the time column
    return {time, rss};
}

using Results = std::vector<std::pair<std::string, Figure>>;

// The PC/SC service on its own: one APDU (GET DATA of the life-cycle byte)
// and one transaction begin or end, through the same service the module
// uses. The service's library is loaded here, at run time, so that the load
// figures of the modules still include it.
Results MeasurePcsc(const std::string& reader, const ApduCounter& counter, int repeat)
{
    Results results;
    void* library = ::dlopen("libpcsclite.so.1", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "brelt-bench: no PC/SC library: %s\n", ::dlerror());
        return results;
    }
    auto symbol = [library](const char* name) { return ::dlsym(library, name); };
    const auto establish = reinterpret_cast<decltype(&SCardEstablishContext)>(symbol("SCardEstablishContext"));
    const auto release = reinterpret_cast<decltype(&SCardReleaseContext)>(symbol("SCardReleaseContext"));
    const auto connect = reinterpret_cast<decltype(&SCardConnect)>(symbol("SCardConnect"));
    const auto disconnect = reinterpret_cast<decltype(&SCardDisconnect)>(symbol("SCardDisconnect"));
    const auto begin = reinterpret_cast<decltype(&SCardBeginTransaction)>(symbol("SCardBeginTransaction"));
    const auto end = reinterpret_cast<decltype(&SCardEndTransaction)>(symbol("SCardEndTransaction"));
    const auto transmit = reinterpret_cast<decltype(&SCardTransmit)>(symbol("SCardTransmit"));
    const auto* t1 = static_cast<const SCARD_IO_REQUEST*>(symbol("g_rgSCardT1Pci"));
    SCARDCONTEXT context = 0;
    if (!establish || !release || !connect || !disconnect || !begin || !end || !transmit || !t1 ||
        establish(SCARD_SCOPE_USER, nullptr, nullptr, &context) != SCARD_S_SUCCESS) {
        std::fprintf(stderr, "brelt-bench: no PC/SC service\n");
        return results;
    }
    SCARDHANDLE card = 0;
    DWORD protocol = 0;
    if (connect(context, reader.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &card, &protocol) !=
        SCARD_S_SUCCESS) {
        std::fprintf(stderr, "brelt-bench: cannot connect to %s\n", reader.c_str());
        release(context);
        return results;
    }
    const int times = repeat * 50;
    Figure calls = Measure(ApduCounter(""), times, [&] {
        begin(card);
        end(card, SCARD_LEAVE_CARD);
    });
    *calls.microseconds /= 2;
    results.emplace_back("PC/SC: one service call (transaction begin or end)", calls);
    const unsigned char getData[] = {0x00, 0xCA, 0x01, 0x83, 0x00};
    results.emplace_back("PC/SC: one APDU through the service", Measure(counter, times, [&] {
                             unsigned char answer[258];
                             DWORD length = sizeof answer;
                             transmit(card, t1, getData, sizeof getData, nullptr, answer, &length);
                         }));
    disconnect(card, SCARD_LEAVE_CARD);
    release(context);
    return results;  // the library stays loaded, like the modules
}

// `load`: MeasureLoad's figures, taken before any module was loaded here (a
// child of this process inherits what this process has loaded).
Results Run(const std::string& path, const std::pair<Figure, Figure>& load, const std::string& pin,
            const ApduCounter& counter, int repeat)
{
    Results results;
    const auto& [loadTime, loadMemory] = load;
    results.emplace_back("load: dlopen + C_GetFunctionList (us)", loadTime);
    results.emplace_back("load: resident memory added (KiB)", loadMemory);

    const Module m(path);

    // Reading the card: C_Initialize until its token shows in the slot list.
    std::vector<CK_SLOT_ID> slots;
    Figure init = Measure(counter, 1, [&] {
        const CK_RV rv = m->C_Initialize(nullptr);
        if (rv != CKR_OK) {
            Fail("C_Initialize", rv);
        }
        for (int i = 0; i < 100 && (slots = SlotsWithToken(m)).empty(); ++i) {
            ::usleep(50 * 1000);
        }
    });
    results.emplace_back("C_Initialize (reading the card)", init);
    if (slots.empty()) {
        std::fprintf(stderr, "brelt-bench: %s shows no token\n", path.c_str());
        m->C_Finalize(nullptr);
        return results;
    }
    const CK_SLOT_ID slot = slots.front();

    CK_TOKEN_INFO tokenInfo;
    results.emplace_back("C_GetTokenInfo, first call",
                         Measure(counter, 1, [&] { m->C_GetTokenInfo(slot, &tokenInfo); }));
    results.emplace_back("C_GetTokenInfo, repeated",
                         Measure(counter, repeat, [&] { m->C_GetTokenInfo(slot, &tokenInfo); }));

    results.emplace_back("C_OpenSession + C_CloseSession", Measure(counter, repeat, [&] {
                             CK_SESSION_HANDLE s = 0;
                             if (m->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &s) == CKR_OK) {
                                 m->C_CloseSession(s);
                             }
                         }));

    CK_SESSION_HANDLE session = 0;
    CK_RV rv = m->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session);
    if (rv != CKR_OK) {
        Fail("C_OpenSession", rv);
    }

    // Listing before login: the public objects, as a client's first look.
    std::vector<CK_OBJECT_HANDLE> objects;
    int attributeCalls = 0;
    Figure firstListing = Measure(counter, 1, [&] {
        objects = FindAll(m, session);
        attributeCalls = ReadEveryAttribute(m, session, objects);
    });
    results.emplace_back("every attribute of every object, first listing", firstListing);
    results.emplace_back("the same listing again", Measure(counter, 1, [&] {
                             objects = FindAll(m, session);
                             ReadEveryAttribute(m, session, objects);
                         }));
    if (attributeCalls > 0) {
        Figure perCall = Measure(counter, 1, [&] { ReadEveryAttribute(m, session, objects); });
        *perCall.microseconds /= attributeCalls;
        *perCall.apdus /= attributeCalls;
        results.emplace_back("C_GetAttributeValue, answered from memory", perCall);
    }

    // A module that refuses the login or the signature (a second module may
    // not know the card's PIN) gets a note instead of figures.
    Figure login;
    login.note = "not run";
    if (!pin.empty()) {
        login = Measure(counter, 1, [&] {
            rv = m->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(pin.c_str())),
                            pin.size());
        });
        if (rv != CKR_OK) {
            login = Figure{};
            login.note = "C_Login refused: " + ResultCode(rv);
        }
    }
    results.emplace_back("C_Login with a PIN", login);

    Figure sign;
    sign.note = login.microseconds ? "no signing key" : "not logged in";
    Figure verify;
    verify.note = sign.note;
    if (const std::optional<CK_OBJECT_HANDLE> key = login.microseconds ? FindSigningKey(m, session) : std::nullopt) {
        std::vector<unsigned char> data = DigestInfo();
        std::vector<unsigned char> signature(1024);
        CK_ULONG length = 0;
        CK_RV refused = CKR_OK;
        sign = Measure(counter, repeat, [&] {
            CK_MECHANISM mechanism{CKM_RSA_PKCS, nullptr, 0};
            CK_RV r = m->C_SignInit(session, &mechanism, *key);
            length = signature.size();
            if (r == CKR_OK) {
                r = m->C_Sign(session, data.data(), data.size(), signature.data(), &length);
            }
            if (r != CKR_OK && refused == CKR_OK) {
                refused = r;
            }
        });
        if (refused != CKR_OK) {
            sign = Figure{};
            sign.note = "C_SignInit + C_Sign refused: " + ResultCode(refused);
            verify.note = "no signature";
        } else if (const std::optional<CK_OBJECT_HANDLE> publicKey = SessionPublicKey(m, session, *key)) {
            // The host's RSA check of a signature: what the module adds to
            // each signature when it checks the card's answer with the key's
            // public half.
            verify = Measure(counter, repeat, [&] {
                CK_MECHANISM mechanism{CKM_RSA_PKCS, nullptr, 0};
                CK_RV r = m->C_VerifyInit(session, &mechanism, *publicKey);
                if (r == CKR_OK) {
                    r = m->C_Verify(session, data.data(), data.size(), signature.data(), length);
                }
                if (r != CKR_OK && refused == CKR_OK) {
                    refused = r;
                }
            });
            if (refused != CKR_OK) {
                verify = Figure{};
                verify.note = "C_VerifyInit + C_Verify refused: " + ResultCode(refused);
            }
            m->C_DestroyObject(session, *publicKey);
        } else {
            verify.note = "no session public key";
        }
    }
    results.emplace_back("C_SignInit + C_Sign, each signature", sign);
    results.emplace_back("C_VerifyInit + C_Verify (the host's RSA check)", verify);

    m->C_Logout(session);
    m->C_CloseSession(session);
    m->C_Finalize(nullptr);
    return results;
}

std::string Cell(const std::optional<double>& value, int precision)
{
    if (!value) {
        return "-";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", precision, *value);
    return text;
}

std::string Ratio(const std::optional<double>& ours, const std::optional<double>& theirs)
{
    if (!ours || !theirs || *theirs <= 0) {
        return "-";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.2fx", *ours / *theirs);
    return text;
}

void Print(const Options& options, const Results& ours, const Results* theirs)
{
    const std::string label = options.label.empty() ? options.module : options.label;
    std::printf("module A: %s\n", label.c_str());
    if (theirs != nullptr) {
        std::printf("module B: %s\n", options.compareLabel.empty() ? options.compare.c_str()
                                                                    : options.compareLabel.c_str());
    }
    std::printf("APDUs per call as counted at the card; host time per call in microseconds\n\n");
    std::printf("%-50s %8s %12s", "operation", "APDUs A", "time A");
    if (theirs != nullptr) {
        std::printf(" %8s %12s %8s", "APDUs B", "time B", "A/B");
    }
    std::printf("\n");
    std::map<std::string, Figure> other;
    if (theirs != nullptr) {
        for (const auto& [name, figure] : *theirs) {
            other[name] = figure;
        }
    }
    for (const auto& [name, figure] : ours) {
        std::printf("%-50s %8s %12s", name.c_str(), Cell(figure.apdus, 1).c_str(),
                    Cell(figure.microseconds, 1).c_str());
        if (theirs != nullptr) {
            const auto it = other.find(name);
            const Figure b = it != other.end() ? it->second : Figure{};
            std::printf(" %8s %12s %8s", Cell(b.apdus, 1).c_str(), Cell(b.microseconds, 1).c_str(),
                        Ratio(figure.microseconds, b.microseconds).c_str());
            if (!b.note.empty() && !b.microseconds) {
                std::printf("  (B: %s)", b.note.c_str());
            }
        }
        if (!figure.note.empty() && !figure.microseconds) {
            std::printf("  (%s)", figure.note.c_str());
        }
        std::printf("\n");
    }
}

bool ParseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) {
            return false;
        }
        const std::string value = argv[++i];
        if (arg == "--module") {
            options.module = value;
        } else if (arg == "--pin") {
            options.pin = value;
        } else if (arg == "--label") {
            options.label = value;
        } else if (arg == "--compare") {
            options.compare = value;
        } else if (arg == "--compare-pin") {
            options.comparePin = value;
        } else if (arg == "--compare-label") {
            options.compareLabel = value;
        } else if (arg == "--apdu-count-file") {
            options.apduCountFile = value;
        } else if (arg == "--pcsc-reader") {
            options.pcscReader = value;
        } else if (arg == "--repeat") {
            options.repeat = std::max(1, std::atoi(value.c_str()));
        } else {
            return false;
        }
    }
    return !options.module.empty();
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: brelt-bench --module PATH [--pin PIN] [--label TEXT] [--compare PATH "
                     "[--compare-pin PIN] [--compare-label TEXT]] [--apdu-count-file FILE] [--repeat N] "
                     "[--pcsc-reader NAME]\n");
        return 2;
    }
    const ApduCounter counter(options.apduCountFile);
    constexpr int kLoadRuns = 9;
    const auto ourLoad = MeasureLoad(options.module, kLoadRuns);
    const auto theirLoad =
        options.compare.empty() ? std::pair<Figure, Figure>() : MeasureLoad(options.compare, kLoadRuns);
    // After the load figures: the service's library must not be loaded in
    // the children that measure loading.
    Results ours;
    if (!options.pcscReader.empty()) ours = MeasurePcsc(options.pcscReader, counter, options.repeat);
    const Results module = Run(options.module, ourLoad, options.pin, counter, options.repeat);
    ours.insert(ours.end(), module.begin(), module.end());
    if (options.compare.empty()) {
        Print(options, ours, nullptr);
        return 0;
    }
    const Results theirs = Run(options.compare, theirLoad,
                               options.comparePin.empty() ? options.pin : options.comparePin, counter, options.repeat);
    Print(options, ours, &theirs);
    return 0;
}
