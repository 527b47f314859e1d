#include "app/pkg_tool.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>

#include "base/file_io.h"
#include "base/json.h"
#include "base/path_rules.h"
#include "base/version.h"
#include "drive/drive_report.h"
#include "package/customers.h"
#include "package/load_messages.h"
#include "package/sample_images.h"
#include "package/trailer.h"
#include "package/update_data.h"
#include "package/updater_name.h"

namespace {

// Exit codes of inspect, extract, sample and drives (kept stable for scripts); build's load
// and generation failures exit with their result code instead.
constexpr int kExitUsage = 2;
constexpr int kExitNoPackage = 3;
constexpr int kExitBroken = 4;
constexpr int kExitIo = 5;
constexpr int kExitDrives = 6;

const char kUsage[] =
    "usage: varnel-pkg inspect FILE\n"
    "       varnel-pkg extract FILE DIR\n"
    "       varnel-pkg build --engine FILE --prm FILE.prm [--out FILE] [--product NAME]\n"
    "                        [--filter XXXX] [--revision R] [--options ff,no,hc,cc]\n"
    "                        [--customer CODE] [--time SECONDS]\n"
    "       varnel-pkg sample DIR [--model NAME] [--revision R] [--minor MM] [--customer N]\n"
    "                         [--size MAIN_CODE_BYTES]\n"
    "       varnel-pkg drives [--json]\n"
    "exit codes:\n"
    "   0      done\n"
    "   2      wrong command line\n"
    "   3      FILE carries no update package\n"
    "   4      the package of FILE is broken\n"
    "   5      a file cannot be read or written\n"
    "   6      drives: the simulated drives' file cannot be read or is malformed\n"
    "  build:  the load or generation result code, as in maintenance mode's automatic\n"
    "          run (1-9, 13-15, 18-24; docs/updater.md lists them); 2 for a wrong\n"
    "          command line, 4 for an engine whose own package is broken\n";

// The name of a trailer flag bit; empty for a bit without one.
std::string FlagName(uint32_t bit) {
    switch (bit) {
        case PKGF_FILTER_FREE_MINOR:
            return "FILTER_FREE_MINOR";
        case PKGF_ONLY_NEWER:
            return "ONLY_NEWER";
        case PKGF_HIDE_COPYRIGHT:
            return "HIDE_COPYRIGHT";
        case PKGF_SAME_CUSTOMER:
            return "SAME_CUSTOMER";
        default:
            break;
    }
    for (const CustomerRule& rule : CustomerRules()) {
        if (rule.flag == bit)
            return std::string("CUST_") + rule.code;
    }
    return std::string();
}

const char* FaultText(PackageFault f) {
    switch (f) {
        case PackageFault::None:
            return "";
        case PackageFault::Bounds:
            return "the trailer's package offset or length lies outside the file";
        case PackageFault::RunTable:
            return "the zero-run table points outside the packed body or overfills the buffer";
        case PackageFault::ImageCheck:
            return "a program image failed its check";
    }
    return "";
}

// Whether the file read is signed, and where its package ends: at the end of the file,
// or in front of the certificate table of a signed one.
std::string SignatureJson(const UpdatePackage& p) {
    std::ostringstream o;
    o << "  \"signature\": ";
    if (p.isSigned) {
        o << "{\"present\": true, \"table_offset\": " << p.signature.offset
          << ", \"table_size\": " << p.signature.size << "},\n";
    } else {
        o << "{\"present\": false},\n";
    }
    o << "  \"package_end\": " << p.usedSize << ",\n";
    return o.str();
}

// Why a file that gave no bytes gave none: why it cannot be read, or "empty file".
std::string NoBytesReason(const std::string& file, bool* empty = nullptr) {
    uint8_t probe = 0;
    std::string why;
    const bool opened = ReadFilePrefix(file, &probe, 1, &why) >= 0;
    if (empty)
        *empty = opened;
    return opened ? "empty file" : why;
}

int UnknownOption(const std::string& option, std::ostream& err) {
    err << "varnel-pkg: unknown option '" << option << "' (varnel-pkg --help shows the usage)\n";
    return kExitUsage;
}

// The file's bytes (its first 4 MiB) and its package as the updater reads them; false with
// *code set when the file cannot be read or carries no package.
bool ReadUpdater(const std::string& file, std::vector<uint8_t>* bytes, UpdatePackage* p,
                 std::ostream& err, int* code) {
    bytes->resize(kBufferSize);
    const int64_t n = ReadFilePrefix(file, bytes->data(), kBufferSize);
    if (n <= 0) {
        bool empty = false;
        const std::string why = NoBytesReason(file, &empty);
        if (empty) {
            err << "varnel-pkg: " << file << " carries no update package (empty file)\n";
            *code = kExitNoPackage;
        } else {
            err << "varnel-pkg: cannot read " << file << ": " << why << "\n";
            *code = kExitIo;
        }
        return false;
    }
    bytes->resize(static_cast<size_t>(n));
    *p = ParsePackage(*bytes);
    if (!p->HasPackage()) {
        err << "varnel-pkg: " << file << " carries no update package"
            << (p->isSigned ? " (it is signed; none in front of its signature)" : "") << "\n";
        *code = kExitNoPackage;
        return false;
    }
    return true;
}

// The file that a load failure is about, and why when it could not be read.
std::string LoadFailureSubject(LoadResult code, const std::string& prm, const CUpdateData& d) {
    std::string file = prm;
    if (code == LOAD_MAIN_OPEN || code == LOAD_MAIN_INVALID || code == LOAD_MAIN_BROKEN ||
        code == LOAD_MAIN_TOO_SMALL) {
        file = d.m_strMainFile;
    } else if (code == LOAD_CORE_OPEN || code == LOAD_CORE_INVALID || code == LOAD_CORE_BROKEN ||
               code == LOAD_CORE_TOO_LARGE) {
        file = d.m_strCoreFile;
    }
    if (file != prm) {
        const std::string dir = DirectoryPart(prm);
        file = dir.empty() ? file : dir + kPathSeparator + file;
    }
    if (code == LOAD_PARAM_OPEN || code == LOAD_MAIN_OPEN || code == LOAD_CORE_OPEN)
        return file + ": " + NoBytesReason(file);
    return file;
}

int Inspect(const std::string& file, std::ostream& out, std::ostream& err) {
    std::vector<uint8_t> bytes;
    UpdatePackage p;
    int code = 0;
    if (!ReadUpdater(file, &bytes, &p, err, &code))
        return code;
    const PackageTrailer& t = p.trailer;
    const uint8_t* raw = bytes.data() + p.usedSize - kTrailerSize;

    std::ostringstream o;
    o << "{\n";
    o << "  \"file_size\": " << p.fileSize << ",\n";
    o << SignatureJson(p);
    o << "  \"offset\": " << t.packageOffset << ",\n";
    o << "  \"length\": " << t.packageLength << ",\n";
    o << "  \"product\": " << JsonString(t.product) << ",\n";
    o << "  \"filter\": " << JsonString(t.filter) << ",\n";
    o << "  \"revision\": " << JsonString(t.revision) << ",\n";
    o << "  \"minor\": " << JsonString(t.minor) << ",\n";
    o << "  \"flags\": " << t.flags << ",\n";
    o << "  \"flag_names\": [";
    bool first = true;
    for (uint32_t bit = 1; bit != 0; bit <<= 1) {
        if ((t.flags & bit) == 0)
            continue;
        const std::string name = FlagName(bit);
        if (!name.empty()) {
            o << (first ? "" : ", ") << JsonString(name);
            first = false;
        }
    }
    o << "],\n";
    o << "  \"customer\": " << JsonString(CustomerFromFlags(t.flags)) << ",\n";
    o << "  \"trailer_seed\": " << ReadBE16(raw) << ",\n";
    if (t.packageOffset <= p.usedSize - kTrailerSize)
        o << "  \"body_seed\": " << ReadBE16(bytes.data() + t.packageOffset) << ",\n";
    o << "  \"runs\": [";
    for (size_t j = 0; j < p.runs.size(); ++j) {
        o << (j ? ", " : "") << "[" << j << ", " << p.runs[j].position << ", " << p.runs[j].length
          << "]";
    }
    o << "],\n";
    o << "  \"body_size\": " << p.firmware.size() << ",\n";
    o << "  \"images\": [";
    for (size_t i = 0; i < p.images.size(); ++i) {
        const ImageFacts& im = p.images[i];
        o << (i ? "," : "") << "\n    {\"kind\": " << JsonString(im.main ? "MAIN" : "CORE")
          << ", \"length\": " << im.length << ", \"result\": " << int{im.result}
          << ", \"size\": " << JsonString(im.sizeText) << ", \"model\": " << JsonString(im.model);
        if (im.main) {
            o << ", \"revision\": " << JsonString(im.revision)
              << ", \"minor\": " << JsonString(im.minor)
              << ", \"customer_byte\": " << int{im.customer};
        }
        o << "}";
    }
    o << (p.images.empty() ? "" : "\n  ") << "],\n";
    const bool broken = p.fault != PackageFault::None;
    o << "  \"valid\": " << (broken ? "false" : "true");
    if (broken)
        o << ",\n  \"fault\": " << JsonString(FaultText(p.fault));
    o << "\n}\n";
    out << o.str();
    if (broken) {
        err << "varnel-pkg: the package of " << file << " is broken: " << FaultText(p.fault)
            << "\n";
        return kExitBroken;
    }
    return 0;
}

int Extract(const std::string& file, const std::string& dir, std::ostream& out, std::ostream& err) {
    std::vector<uint8_t> bytes;
    UpdatePackage p;
    int code = 0;
    if (!ReadUpdater(file, &bytes, &p, err, &code))
        return code;
    if (p.fault != PackageFault::None) {
        err << "varnel-pkg: the package of " << file << " is broken: " << FaultText(p.fault)
            << "; nothing extracted\n";
        return kExitBroken;
    }
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);  // a failure shows in the writes below
    std::map<std::string, int> seen;
    std::string prm;
    for (const ImageFacts& im : p.images) {
        const char* kind = im.main ? "MAIN" : "CORE";
        std::string name = im.main ? "main" : "core";
        if (seen[name]++)
            name += std::to_string(seen[name]);
        name += ".bin";
        const std::string path = dir + kPathSeparator + name;
        if (!WriteWholeFile(path, p.firmware.data() + im.offset, im.length)) {
            err << "varnel-pkg: cannot write " << path << "\n";
            return kExitIo;
        }
        // The number only tells the kinds apart: above 262144 for a Main program file.
        const uint32_t number = im.main && im.length <= 262144 ? 262145 : im.length;
        prm += name + " " + std::to_string(number) + "\r\n";
        out << path << " (" << kind << ", " << im.length << " bytes)\n";
    }
    const std::string prmPath = dir + kPathSeparator + "package.prm";
    if (prm.size() < 100 &&
        !WriteWholeFile(prmPath, reinterpret_cast<const uint8_t*>(prm.data()), prm.size())) {
        err << "varnel-pkg: cannot write " << prmPath << "\n";
        return kExitIo;
    }
    return 0;
}

// --name value pairs after the command word.
bool Options(const std::vector<std::string>& args, size_t from,
             std::map<std::string, std::string>* opts, std::vector<std::string>* plain,
             std::ostream& err) {
    for (size_t i = from; i < args.size(); ++i) {
        if (args[i].rfind("--", 0) == 0) {
            if (i + 1 >= args.size()) {
                err << "varnel-pkg: " << args[i] << " needs a value\n";
                return false;
            }
            (*opts)[args[i].substr(2)] = args[i + 1];
            ++i;
        } else {
            plain->push_back(args[i]);
        }
    }
    return true;
}

// Without --out: the name maintenance mode gives an updater (model part, revision, or CORE),
// in the parameter file's folder, ending in .exe only when the engine is a Windows program.
std::string DefaultOutputName(const CUpdateData& d, const std::string& prm,
                              const std::string& customer) {
    std::string name = ModelNameBase(d.m_strImageModel, false);
    if (d.m_strMainFile.empty()) {
        name += "CORE";
    } else {
        std::string revision = d.m_strNewRevision;
        if (!d.m_strNewMinorRev.empty())
            revision += "-" + d.m_strNewMinorRev;
        name += CustomerRuleOf(customer).shortRevisionInName ? revision.substr(0, 4) : revision;
    }
    name = FileNameSafe(name) + UpdaterSuffixOf(EngineKindOf(d.m_pFileImage, d.m_nEngineSize));
    const std::string dir = DirectoryPart(prm);
    return dir.empty() ? name : dir + kPathSeparator + name;
}

int Build(const std::map<std::string, std::string>& opts, std::ostream& out, std::ostream& err) {
    for (const auto& [key, value] : opts) {
        static const char* known[] = {"engine",   "prm",     "out",      "product", "filter",
                                      "revision", "options", "customer", "time"};
        bool ok = false;
        for (const char* k : known)
            ok = ok || key == k;
        if (!ok) {
            return UnknownOption("--" + key, err);
        }
    }
    for (const char* required : {"engine", "prm"}) {
        if (!opts.count(required)) {
            err << "varnel-pkg: build needs --" << required << "\n" << kUsage;
            return kExitUsage;
        }
    }
    auto get = [&](const char* k) { return opts.count(k) ? opts.at(k) : std::string(); };

    auto d = std::make_unique<CUpdateData>();
    d->ReadPackage(get("engine"));
    if (d->m_nEngineSize == 0) {
        const ResultMessage m = LoadResultMessage(LOAD_NO_ENGINE);
        err << "varnel-pkg: " << m.text << " (" << get("engine") << ": "
            << NoBytesReason(get("engine")) << ")\n";
        return LOAD_NO_ENGINE;
    }
    if (!d->IsPackageEmpty()) {
        if (d->GetPackageFault() == PackageFault::Bounds) {
            err << "varnel-pkg: the engine " << get("engine")
                << " carries a broken package: " << FaultText(PackageFault::Bounds) << "\n";
            return kExitBroken;
        }
        // An updater given as engine: its own package is replaced.
        d->m_nEngineSize = d->m_nPackageOffset;
    }
    // Nothing of an engine's package carries over.
    d->m_strTargetProduct.clear();
    d->m_strRevFilter.clear();
    d->m_strCustomer.clear();
    d->m_bFilterFreeMinor = d->m_bOnlyNewer = d->m_bHideCopyright = d->m_bSameCustomer = false;

    const LoadResult load = d->LoadParameterFile(get("prm"));
    if (load != LOAD_OK) {
        err << "varnel-pkg: " << LoadResultMessage(load).text << " ("
            << LoadFailureSubject(load, get("prm"), *d) << ")\n";
        return load;
    }
    d->SetTargetProduct(opts.count("product") ? get("product") : d->m_strImageModel);
    if (opts.count("revision"))
        d->m_strNewRevision = get("revision");
    std::string filter = opts.count("filter") ? get("filter") : "****";
    if (filter.size() != 4) {
        err << "varnel-pkg: --filter needs exactly four characters\n";
        return kExitUsage;
    }
    for (size_t k = 0; k < 4; ++k) {
        if (filter[k] != '=')
            continue;
        if (k >= d->m_strNewRevision.size()) {
            err << "varnel-pkg: filter position " << k + 1 << " is '=' but the revision \""
                << d->m_strNewRevision << "\" has no character there\n";
            return kExitUsage;
        }
        filter[k] = d->m_strNewRevision[k];
    }
    d->SetRevisionFilter(filter);
    std::stringstream list(get("options"));
    for (std::string item; std::getline(list, item, ',');) {
        if (item == "ff") {
            d->m_bFilterFreeMinor = true;
        } else if (item == "no") {
            d->m_bOnlyNewer = true;
        } else if (item == "hc") {
            d->m_bHideCopyright = true;
        } else if (item == "cc") {
            d->m_bSameCustomer = true;
        } else if (!item.empty()) {
            err << "varnel-pkg: unknown option '" << item << "' (use ff, no, hc, cc)\n";
            return kExitUsage;
        }
    }
    const std::string customer = get("customer");
    if (!customer.empty() && CustomerFlag(customer) == 0) {
        std::string codes;
        for (const CustomerRule& rule : CustomerRules())
            codes += (codes.empty() ? "" : ", ") + std::string(rule.code);
        err << "varnel-pkg: unknown customer code '" << customer << "' (" << codes << ")\n";
        return kExitUsage;
    }
    d->m_strCustomer = customer;
    if (opts.count("time")) {
        const std::string text = get("time");
        char* end = nullptr;
        const long long t = std::strtoll(text.c_str(), &end, 10);
        if (text.empty() || *end) {
            err << "varnel-pkg: --time needs seconds since 1970\n";
            return kExitUsage;
        }
        d->SetClock([t] { return static_cast<int64_t>(t); });
    }
    const std::string output =
        opts.count("out") ? get("out") : DefaultOutputName(*d, get("prm"), customer);
    const LoadResult r = d->WritePackage(output);
    if (r != LOAD_OK) {
        err << "varnel-pkg: " << LoadResultMessage(r).text << " (" << output << ")\n";
        return r;
    }
    out << "wrote " << output << ": " << d->m_nFileSize << " bytes, product "
        << d->m_strTargetProduct << ", filter " << filter << ", revision " << d->m_strNewRevision
        << (d->m_strNewMinorRev.empty() ? "" : "-" + d->m_strNewMinorRev) << "\n";
    return 0;
}

int Sample(const std::string& dir, const std::map<std::string, std::string>& opts,
           std::ostream& out, std::ostream& err) {
    SampleImageSpec mainSpec;
    mainSpec.model = "KVS-Q42R";
    mainSpec.revision = "1.10";
    for (const auto& [key, value] : opts) {
        if (key == "model") {
            mainSpec.model = value;
        } else if (key == "revision") {
            mainSpec.revision = value;
        } else if (key == "minor") {
            mainSpec.minor = value;
        } else if (key == "customer") {
            mainSpec.customer = static_cast<uint8_t>(std::strtoul(value.c_str(), nullptr, 0));
        } else if (key == "size") {
            // MAIN code bytes: an image of at least 64 KiB (an updater's MAIN), and both
            // images within 4 MiB.
            constexpr unsigned long kMinCode = kMainImageThreshold - kImageHeaderSize;
            constexpr unsigned long kMaxCode = 4194304 - 1024 - (1024 + 40 * 1024);
            char* end = nullptr;
            const unsigned long size = std::strtoul(value.c_str(), &end, 0);
            if (value.empty() || *end || size < kMinCode || size > kMaxCode) {
                err << "varnel-pkg: --size needs " << kMinCode << " to " << kMaxCode << " bytes\n";
                return kExitUsage;
            }
            mainSpec.codeSize = static_cast<uint32_t>(size);
        } else {
            return UnknownOption("--" + key, err);
        }
    }
    if (mainSpec.model.size() > 8 || mainSpec.revision.size() > 4 ||
        (!mainSpec.minor.empty() && mainSpec.minor.size() != 2)) {
        err << "varnel-pkg: model up to 8, revision up to 4, minor exactly 2 characters\n";
        return kExitUsage;
    }
    SampleImageSpec coreSpec;
    coreSpec.main = false;
    coreSpec.model = mainSpec.model;
    coreSpec.seed = 2;
    std::string error;
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);  // a failure shows in the write below
    if (!WriteSampleSet(dir, mainSpec, coreSpec, &error)) {
        err << "varnel-pkg: " << error << "\n";
        return kExitIo;
    }
    out << "wrote " << dir << kPathSeparator << "main.bin, core.bin and sample.prm (model "
        << mainSpec.model << ", revision " << mainSpec.revision
        << (mainSpec.minor.empty() ? "" : "-" + mainSpec.minor) << ")\n";
    return 0;
}

}  // namespace

int RunPkgTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        err << kUsage;
        return kExitUsage;
    }
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            out << kUsage;
            return 0;
        }
        if (arg == "--version") {
            out << "varnel-pkg " VARNEL_VERSION "\n";
            return 0;
        }
    }
    const std::string& command = args[0];
    if (command == "drives") {
        for (size_t i = 1; i < args.size(); ++i) {
            if (args[i] != "--json")
                return UnknownOption(args[i], err);
        }
        CDriveControl drive;
        out << DescribeDrives(drive, args.size() > 1);
        const std::string problem = drive.GetTransportProblem();
        if (!problem.empty()) {
            err << "varnel-pkg: " << problem << "\n";
            return kExitDrives;
        }
        return 0;
    }
    static const char* const kCommands[] = {"inspect", "extract", "build", "sample"};
    if (std::none_of(std::begin(kCommands), std::end(kCommands),
                     [&](const char* c) { return command == c; })) {
        err << "varnel-pkg: unknown " << (command.rfind('-', 0) == 0 ? "option" : "command") << " '"
            << command << "' (varnel-pkg --help shows the usage)\n";
        return kExitUsage;
    }
    std::map<std::string, std::string> opts;
    std::vector<std::string> plain;
    if (!Options(args, 1, &opts, &plain, err))
        return kExitUsage;
    if ((command == "inspect" || command == "extract") && !opts.empty())
        return UnknownOption("--" + opts.begin()->first, err);
    if (command == "inspect" && plain.size() == 1)
        return Inspect(plain[0], out, err);
    if (command == "extract" && plain.size() == 2)
        return Extract(plain[0], plain[1], out, err);
    if (command == "build" && plain.empty())
        return Build(opts, out, err);
    if (command == "sample" && plain.size() == 1)
        return Sample(plain[0], opts, out, err);
    err << kUsage;
    return kExitUsage;
}
