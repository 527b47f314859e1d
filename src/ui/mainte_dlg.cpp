#include "ui/mainte_dlg.h"

#include <system_error>

#include "base/file_io.h"
#include "base/path_rules.h"
#include "base/system_services.h"
#include "base/text.h"
#include "package/customers.h"
#include "package/load_messages.h"
#include "package/update_data.h"
#include "package/updater_name.h"

namespace {

// Blanks around the fields of a drive list row (a line break ends the row).
constexpr std::string_view kFieldBlanks = " \t\r\v\f";

// A relative path taken against the current directory, so that it still names the same
// file after the dialog has entered the parameter file's folder.
std::string AbsolutePath(const std::string& path) {
    if (path.empty())
        return path;
    return MakeAbsolutePath(path);
}

}  // namespace

std::string FilterEntry(int index) {
    if (index == 0)
        return "*";
    if (index == 1)
        return "=";
    if (index >= 2 && index < 28)
        return std::string(1, static_cast<char>('A' + (index - 2)));
    if (index >= 28 && index < kFilterEntryCount)
        return std::string(1, static_cast<char>('0' + (index - 28)));
    return std::string();
}

int CustomerEntryCount() {
    return 1 + static_cast<int>(CustomerRules().size());
}

std::string CustomerEntry(int index) {
    if (index < 1 || index >= CustomerEntryCount())
        return std::string();
    return CustomerRules()[static_cast<size_t>(index - 1)].code;
}

std::vector<DriveListRow> ParseDriveList(const uint8_t* data, size_t size) {
    std::vector<DriveListRow> rows;
    size_t pos = 0;
    bool last = false;
    while (!last && rows.size() < kDriveListMaxRows) {
        size_t start = pos;
        while (pos < size && data[pos] != '\n' && data[pos] != 0xFF)
            ++pos;
        const size_t stop = pos;
        if (pos >= size || data[pos] == 0xFF) {
            last = true;
        } else {
            ++pos;  // the LF
        }
        while (start < stop && (data[start] == ' ' || data[start] == '\t'))
            ++start;
        if (stop - start <= 2)
            continue;
        if (data[start] == '/' && data[start + 1] == '/')
            continue;
        std::string fields[3];
        size_t field = 0;
        for (size_t i = start; i < stop; ++i) {
            const char c = static_cast<char>(data[i]);
            if (c == '\\' && i + 1 < stop && data[i + 1] == ',') {
                fields[field] += ',';
                ++i;
            } else if (c == ',' && field < 2) {
                ++field;
            } else {
                fields[field] += c;
            }
        }
        if (field >= 1)
            rows.push_back({Trim(fields[0], kFieldBlanks), Trim(fields[1], kFieldBlanks),
                            Trim(fields[2], kFieldBlanks)});
    }
    return rows;
}

CMainteDlg::CMainteDlg(ISystemServices& services) : CDialogBase(IDD_MAINTE), m_services(services) {
    BindText(IDC_PARAM_FILE, &m_strParamFile);
    BindText(IDC_OUTPUT_FILE, &m_strOutputFile);
    BindText(IDC_CORE_NAME, &m_strCoreName);
    BindText(IDC_MAIN_NAME, &m_strMainName);
    BindText(IDC_INQUIRY_REV, &m_strInquiryRev);
    BindText(IDC_CORE_SIZE, &m_strCoreSize);
    BindText(IDC_MAIN_SIZE, &m_strMainSize);
    BindText(IDC_MAINTE_STATUS, &m_strStatus);
    for (int i = 0; i < 4; ++i)
        BindText(IDC_FILTER_1 + i, &m_strFilterBox[i]);
    BindCheck(IDC_OPT_FILTER_FREE_MINOR, &m_bFilterFreeMinor);
    BindCheck(IDC_OPT_ONLY_NEWER, &m_bOnlyNewer);
    BindCheck(IDC_OPT_SAME_CUSTOMER, &m_bSameCustomer);
    BindCheck(IDC_OPT_HIDE_COPYRIGHT, &m_bHideCopyright);
}

bool CMainteDlg::OnInitDialog() {
    Window().SetTitle(kMainteCaption);
    Window().AcceptFiles(true);
    for (int box = 0; box < 4; ++box) {
        for (int i = 0; i < kFilterEntryCount; ++i)
            Window().ListAdd(IDC_FILTER_1 + box, FilterEntry(i));
    }
    CDialogBase::OnInitDialog();

    FillCustomerList();
    ReadDriveList();
    Window().SetDefaultButton(IDC_LOAD);
    for (size_t i = 0; i < 4 && i < m_strRevFilter.size(); ++i)
        m_strFilterBox[i] = std::string(1, m_strRevFilter[i]);
    UpdateData(false);

    if (!m_strParamFile.empty())
        OnLoad();
    if (m_bAutoGenerate && !m_strParamFile.empty() && !m_strOutputFile.empty())
        m_nExitCode = Generate();
    return true;
}

void CMainteDlg::OnCommand(int id, int notify) {
    if (id == IDC_INQUIRY_REV) {
        if (notify == kNotifyEditChange && !IsExchanging())
            OnChangeInquiryRev();
        return;
    }
    if (id == IDC_PRODUCT_LIST) {
        if (notify == kNotifySelChange)
            OnSelchangeProduct();
        return;
    }
    if (notify == kNotifyClicked) {
        switch (id) {
            case IDC_LOAD:
                OnLoad();
                return;
            case IDC_BROWSE:
                OnBrowse();
                return;
            case IDC_GENERATE:
                OnGenerate();
                return;
            default:
                break;
        }
    }
    CDialogBase::OnCommand(id, notify);
}

void CMainteDlg::FillCustomerList() {
    Window().ListReset(IDC_CUSTOMER_LIST);
    int selection = -1;
    for (int entry = 0; entry < CustomerEntryCount(); ++entry) {
        const std::string text = CustomerEntry(entry);
        const int index = Window().ListAdd(IDC_CUSTOMER_LIST, text);
        if (selection < 0 && text == m_strCustomer)
            selection = index;
    }
    Window().ListSetSel(IDC_CUSTOMER_LIST, selection);
}

void CMainteDlg::ReadDriveList() {
    m_driveList.clear();
    const std::string path = m_strExeDir.empty() ? std::string(kDriveListName)
                                                 : m_strExeDir + kPathSeparator + kDriveListName;
    std::vector<uint8_t> buffer(kDriveListMaxBytes);
    const int64_t n = ReadFilePrefix(path, buffer.data(), kDriveListMaxBytes);
    if (n <= 0)
        return;  // no drive list: nothing to read
    m_driveList = ParseDriveList(buffer.data(), static_cast<size_t>(n));
}

void CMainteDlg::EnterParamDir() {
    m_strParamDir = DirectoryPart(m_strParamFile);
    m_services.ChangeDirectory(m_strParamDir);  // a folder that cannot be entered is ignored
}

void CMainteDlg::OnLoad() {
    // The path typed into the box is the one meant.
    m_strParamFile = AbsolutePath(GetItemText(IDC_PARAM_FILE));
    EnterParamDir();
    m_strOutputFile.clear();

    Window().BeginWaitCursor();
    const LoadResult code = m_pUpdateData->LoadParameterFile(m_strParamFile);
    Window().EndWaitCursor();

    m_byLoadResult = code;
    m_strMainName = m_pUpdateData->m_strMainFile;
    m_strMainSize = m_pUpdateData->m_strMainSize;
    if (m_strInquiryRev.empty()) {
        m_strInquiryRev = m_pUpdateData->m_strNewRevision;
        if (!m_pUpdateData->m_strNewMinorRev.empty())
            m_strInquiryRev += "-" + m_pUpdateData->m_strNewMinorRev;
        m_bInquiryRevFromImage = true;
    }
    m_strCoreName = m_pUpdateData->m_strCoreFile;
    m_strCoreSize = m_pUpdateData->m_strCoreSize;
    FillProductList();
    ShowResult(code);
    m_bLoaded = code == LOAD_OK;
    m_strStatus = m_bLoaded ? kStatusLoadOk : kStatusLoadNg;
    Window().SetDefaultButton(IDC_GENERATE);
    UpdateData(false);
}

void CMainteDlg::OnBrowse() {
    const std::optional<std::string> chosen = Window().ChooseOpenFile(kBrowseTitle, kBrowseFilter);
    if (!chosen)
        return;
    m_strParamFile = *chosen;
    UpdateData(false);
    if (!m_strParamFile.empty())
        OnLoad();
}

void CMainteDlg::OnDropFiles(const std::vector<std::string>& files) {
    if (files.empty())
        return;
    m_strParamFile = AbsolutePath(files.front());  // further files are ignored
    UpdateData(false);
    EnterParamDir();
    if (!m_strParamFile.empty())
        OnLoad();
}

void CMainteDlg::OnSelchangeProduct() {
    SelectProduct(Window().ListGetSel(IDC_PRODUCT_LIST));
}

void CMainteDlg::FillProductList() {
    Window().ListReset(IDC_PRODUCT_LIST);
    if (!m_strTargetProduct.empty())
        Window().ListAdd(IDC_PRODUCT_LIST, m_strTargetProduct + " (Inputted)");
    Window().ListAdd(IDC_PRODUCT_LIST, m_pUpdateData->m_strImageModel);
    SelectProduct(0);
}

void CMainteDlg::SelectProduct(int index) {
    if (index < 0 || index >= Window().ListGetCount(IDC_PRODUCT_LIST))
        return;
    std::string text = Window().ListGetText(IDC_PRODUCT_LIST, index);
    bool forEntry = false;
    const size_t space = text.find(' ');
    if (space != std::string::npos) {
        forEntry = text.compare(space + 1, 4, "(for") == 0;
        text.resize(space);
    }
    m_pUpdateData->SetTargetProduct(text);
    Window().ListSetSel(IDC_PRODUCT_LIST, index);

    // Only the product name typed with tp= is the user's; the rest comes from the image.
    const bool typed = forEntry && index == 0 && !m_strTargetProduct.empty();
    m_strNameBase.clear();
    if (forEntry) {
        for (char c : text) {
            if (c != '-')
                m_strNameBase += c;
        }
    } else {
        m_strNameBase =
            ModelNameBase(index == 0 ? m_pUpdateData->m_strImageModel : text, index > 0);
    }
    if (!typed)
        m_strNameBase = FileNameSafe(m_strNameBase);
    BuildOutputName();
    UpdateData(false);
}

void CMainteDlg::BuildOutputName() {
    if (!m_strOutputName.empty()) {
        m_strNameBase = m_strOutputName + "_";
        const size_t dash = m_strNameBase.find('-');
        if (dash != std::string::npos)
            m_strNameBase.erase(dash, 1);
    }
    std::string out = m_strNameBase;
    if (!m_strParamDir.empty())
        out = m_strParamDir + kPathSeparator + out;
    if (!m_strMainName.empty()) {
        const std::string revision = CustomerRuleOf(m_strCustomer).shortRevisionInName
                                         ? m_strInquiryRev.substr(0, 4)
                                         : m_strInquiryRev;
        out += m_bInquiryRevFromImage ? FileNameSafe(revision) : revision;
    } else {
        out += "CORE";
    }
    m_strOutputFile = out + kUpdaterSuffix;
    UpdateData(false);
}

void CMainteDlg::OnChangeInquiryRev() {
    UpdateData(true);
    m_bInquiryRevFromImage = false;
    m_pUpdateData->m_strNewRevision = m_strInquiryRev;
    BuildOutputName();
}

void CMainteDlg::ShowResult(LoadResult code) {
    if (code == LOAD_OK)
        return;
    const ResultMessage message = LoadResultMessage(code);
    MessageBox(message.text, message.caption, kMbOk | kMbIconError);
}

void CMainteDlg::RefuseGenerate(LoadResult code) {
    ShowResult(code);
    m_strStatus = kStatusGenerateNg;
    UpdateData(false);
}

void CMainteDlg::OnGenerate() {
    if (Generate() == LOAD_OK)
        m_nExitCode = 0;
}

LoadResult CMainteDlg::Generate() {
    if (!m_bLoaded) {
        MessageBox(kMustLoadText, kGenerationErrorCaption, kMbOk | kMbIconError);
        UpdateData(false);
        // Without any load attempt the parameter file counts as not opened.
        return m_byLoadResult != LOAD_OK ? m_byLoadResult : LOAD_PARAM_OPEN;
    }
    UpdateData(true);

    // Refusals first, so that a refused attempt changes nothing.
    const std::string& revision = m_pUpdateData->m_strNewRevision;
    std::string filter;
    for (size_t i = 0; i < 4; ++i) {
        const std::string& box = m_strFilterBox[i];
        if (box.empty()) {
            filter += '*';
        } else if (box == "=") {
            if (i >= revision.size()) {
                RefuseGenerate(LOAD_FILTER_REVISION);
                return LOAD_FILTER_REVISION;
            }
            filter += revision[i];
        } else {
            filter += box;
        }
    }
    const int customer = Window().ListGetSel(IDC_CUSTOMER_LIST);
    if (customer < 0) {
        RefuseGenerate(LOAD_NO_CUSTOMER);
        return LOAD_NO_CUSTOMER;
    }

    m_strRevFilter = filter;
    m_pUpdateData->SetRevisionFilter(filter);
    if (m_bFilterFreeMinor)
        m_pUpdateData->m_bFilterFreeMinor = true;
    if (m_bOnlyNewer)
        m_pUpdateData->m_bOnlyNewer = true;
    if (m_bHideCopyright)
        m_pUpdateData->m_bHideCopyright = true;
    if (m_bSameCustomer)
        m_pUpdateData->m_bSameCustomer = true;
    m_pUpdateData->m_strCustomer = Window().ListGetText(IDC_CUSTOMER_LIST, customer);

    Window().BeginWaitCursor();
    const LoadResult code = m_pUpdateData->WritePackage(m_strOutputFile);
    Window().EndWaitCursor();
    ShowResult(code);
    m_strStatus = code == LOAD_OK ? kStatusGenerateOk : kStatusGenerateNg;
    UpdateData(false);
    if (code == LOAD_OK)
        EndDialog(kIdOk);
    return code;
}
