// CUpdateData: the update package of the process. Holds the executable as read,
// the firmware body, the trailer values, revisions and the target list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "package/pe_signature.h"
#include "package/results.h"
#include "package/scrambler.h"
#include "package/target_rules.h"
#include "package/trailer.h"
#include "package/update_package.h"

class CDriveControl;
struct DriveInfo;

// A target's current revision (from the drive list) and minor revision (48-byte INQUIRY).
struct DriveRevision {
    std::string revision;
    std::string minor;
};

class CUpdateData {
    // The drive control of the target search. The search needs drives and the package does
    // not: both live in download/target_search.cpp, which makes and deletes it.
    struct SearchDriveDeleter {
        void operator()(CDriveControl* drive) const;
    };
    static CDriveControl* NewSearchDrive();
    std::unique_ptr<CDriveControl, SearchDriveDeleter> m_pSearchDrive;

public:
    CUpdateData();
    virtual ~CUpdateData();
    CUpdateData(const CUpdateData&) = delete;
    CUpdateData& operator=(const CUpdateData&) = delete;

    // Package reading (ParsePackage, its values taken into the members) and the mode tests.
    void ReadPackage(const std::string& path);
    // The same, with the file-name rule (minor revision shown) applied to name, the name
    // the program was started by, instead of to path.
    void ReadPackage(const std::string& path, const std::string& name);
    // The same on file bytes already in memory (at most 4 MiB are taken); fileName
    // stands for the file name part of the path.
    void ReadPackageFromMemory(const uint8_t* data, size_t size, const std::string& fileName);
    bool HasPackageData() const;
    bool IsPackageEmpty() const;
    // A package was found but must never be written into a drive.
    bool IsPackageBroken() const { return m_fault != PackageFault::None; }
    PackageFault GetPackageFault() const { return m_fault; }
    // The certificate table of the file read when it is signed (false when it is not).
    bool GetSignature(CertificateTable* table) const {
        *table = m_signature;
        return m_bSigned;
    }

    const uint8_t* GetFirmware() const { return m_pFirmware; }
    uint32_t GetFirmwareLength() const { return m_nFirmwareLength; }
    void SetTargetProduct(const std::string& name) { m_strTargetProduct = name; }
    void SetRevisionFilter(const std::string& filter) { m_strRevFilter = filter; }

    // Program images in m_pFirmware (InspectImage, its values taken into the members).
    bool VerifyChecksum(uint32_t offset, uint32_t length) const;
    CheckResult CheckProgramImage(uint32_t offset, uint32_t length, bool main);
    static std::string SizeText(uint32_t codeSize) { return ::SizeText(codeSize); }

    // Container codec. PackFirmware returns false when the output would not fit.
    bool PackFirmware();
    bool UnpackFirmware();
    static int32_t Scramble(uint8_t* buffer, int32_t length, uint16_t seed) {
        return ::Scramble(buffer, length, seed);
    }

    // Byte-at-a-time forms of the four routines above, with the same results: the
    // reference the fast forms are tested and measured against.
    bool VerifyChecksumPlain(uint32_t offset, uint32_t length) const;
    bool PackFirmwarePlain();
    bool UnpackFirmwarePlain();
    static int32_t ScramblePlain(uint8_t* buffer, int32_t length, uint16_t seed);

    // Maintenance mode.
    LoadResult LoadParameterFile(const std::string& path);
    // Composes the updater in m_pFileImage (ComposePackage), checks it as updater mode
    // would read it (CheckUpdaterFile) and writes it to path.
    LoadResult WritePackage(const std::string& path);
    // Engine image, package block and trailer in m_pFileImage; 0, 13 or 14.
    LoadResult ComposePackage();
    // Reads file as start-up reads an updater; 0 when it finds its package, every image
    // passes its check and the firmware body equals body; else a LOAD_UPDATER_ code.
    static LoadResult CheckUpdaterFile(const uint8_t* file, uint32_t size, const uint8_t* body,
                                       uint32_t bodyLength);
    // Seconds since 1970 for the writer's seed; replaceable for tests.
    void SetClock(std::function<int64_t()> clock) { m_clock = std::move(clock); }

    // Target search (download/target_search.cpp): the rule of GetTargetRule asked of the
    // drives that m_drive lists.
    TargetRule GetTargetRule() const;
    void SearchTargets();
    uint8_t GetTargetCount() const { return m_nTargetCount; }
    uint8_t GetTargetDrive(uint8_t n) const { return m_byTargets[n]; }
    // Target n's drive as the search saw it (address and identity), for its download.
    DriveInfo GetTargetDriveInfo(uint8_t n) const;
    std::string GetTargetLabel(uint8_t n);
    // The target whose drive letter is the first character of letter, or whose device name
    // letter is (sr1, /dev/sr1); 0 for an empty letter, -1 when none.
    int FindTargetByLetter(const std::string& letter);
    uint8_t GetDriveCustomerCode(uint8_t drive);
    void ReadDriveRevision(uint8_t n);
    // What ReadDriveRevision reads, for targets first to last at once (several drives are
    // asked at the same time); leaves m_strCurRevision and m_strCurMinorRev alone.
    std::vector<DriveRevision> ReadDriveRevisions(uint8_t first, uint8_t last);
    static ProductClass ClassifyProductName(const std::string& name) {
        return ::ClassifyProductName(name);
    }

    // Members, read and set directly by the front ends.
    std::string m_strImageModel;
    std::string m_strTargetProduct;
    std::string m_strMainFile;
    std::string m_strMainSize;
    std::string m_strNewRevision;
    std::string m_strNewMinorRev;
    std::string m_strCoreFile;
    std::string m_strCoreSize;
    std::string m_strCurRevision;
    std::string m_strCurMinorRev;
    std::string m_strCustomer;
    uint8_t m_byImageCustomer = 0;
    bool m_bMinorRevHidden = true;
    bool m_bLogMode = false;
    bool m_bFilterFreeMinor = false;
    bool m_bOnlyNewer = false;
    bool m_bHideCopyright = false;
    bool m_bSameCustomer = false;
    CDriveControl& m_drive;
    uint8_t* m_pFileImage = nullptr;
    uint8_t* m_pFirmware = nullptr;
    uint32_t m_nEngineSize = 0;
    uint32_t m_nFileSize = 0;
    uint32_t m_nPackageOffset = 0;
    uint32_t m_nPackageLength = 0;
    uint32_t m_nFirmwareLength = 0;
    uint8_t m_nTargetCount = 0;
    uint8_t m_byTargets[256] = {};
    std::string m_strRevFilter;

    // First non-zero CheckProgramImage result of the image walk (0 when all passed).
    CheckResult m_byImageCheckResult = CHECK_OK;

private:
    using UnpackFunction = bool (*)(const uint8_t*, uint32_t, uint32_t, uint8_t*, uint32_t,
                                    uint32_t*);

    // Where the package block starts in m_pFileImage (its used length) and how far the block
    // may grow; false when not even its run table fits.
    bool BlockRoom(uint32_t* start, uint32_t* limit) const;
    // The block packed from start up to end: the package offset and length so far, and the
    // used length of m_pFileImage.
    void EndPacking(uint32_t start, uint32_t end);
    // Takes the package of the first fileSize bytes of m_pFileImage.
    void LoadPackage(uint32_t fileSize);
    // Takes what an image check read, as far as it got.
    void TakeImageFacts(const ImageFacts& facts);
    // The block at m_nPackageOffset up to the trailer of m_nFileSize, unpacked into
    // m_pFirmware with unpack.
    bool UnpackWith(UnpackFunction unpack);

    PackageFault m_fault = PackageFault::None;
    bool m_bSigned = false;
    CertificateTable m_signature;
    std::string m_strFileName;  // file name of the package read, for the minor-revision rule
    std::function<int64_t()> m_clock;
};
