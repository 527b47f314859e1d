// The dialog base over the headless window: data exchange, the end rule, posted
// commands, notifications from the dialog's own refreshes, modal children.
#include <gtest/gtest.h>

#include "support/headless_window.h"
#include "ui/dialog_base.h"
#include "ui/strings.h"

namespace {

class CProbeDlg : public CDialogBase {
public:
    CProbeDlg() : CDialogBase(500) {
        BindText(10, &m_strName);
        BindCheck(11, &m_bOption);
        BindListIndex(12, &m_nChoice);
    }

    bool OnInitDialog() override {
        Window().ListAdd(12, "first");
        Window().ListAdd(12, "second");
        CDialogBase::OnInitDialog();
        if (m_nEndInInit != 0) {
            EndDialog(m_nEndInInit);
            EndDialog(m_nEndInInit + 1);
        }
        return true;
    }

    void OnCommand(int id, int notify) override {
        if (id == 10 && notify == kNotifyEditChange && !IsExchanging())
            ++m_nUserEdits;
        if (id == 20 && notify == kNotifyClicked) {
            UpdateData(true);
            m_strName += "!";
            UpdateData(false);
        }
        if (id == 21 && notify == kNotifyClicked) {
            CProbeDlg child;
            child.m_strName = "child";
            m_nChildResult = child.DoModal(Factory(), this);
        }
        CDialogBase::OnCommand(id, notify);
    }

    std::string m_strName = "start";
    bool m_bOption = true;
    int m_nChoice = 1;
    int m_nEndInInit = 0;
    int m_nUserEdits = 0;
    int m_nChildResult = 0;
};

TEST(DialogBase, ExchangesMembersAndControlsBothWays) {
    CHeadlessWindowFactory factory;
    CProbeDlg dlg;
    factory.scripts[500] = {
        [](CHeadlessWindow& w) {
            EXPECT_EQ("start", w.Text(10));
            EXPECT_TRUE(w.Control(11).checked);
            EXPECT_EQ(1, w.lists[12].selection);
            w.TypeText(10, "typed");
            w.ToggleCheck(11);
            w.SelectEntry(12, 0);
            w.Click(20);  // takes the controls, changes the member, refreshes
            EXPECT_EQ("typed!", w.Text(10));
        },
        [](CHeadlessWindow& w) { w.Click(kIdOk); },
    };
    EXPECT_EQ(kIdOk, dlg.DoModal(factory));
    EXPECT_EQ("typed!", dlg.m_strName);
    EXPECT_FALSE(dlg.m_bOption);
    EXPECT_EQ(0, dlg.m_nChoice);
    // Only the typed text counts as an edit; the dialog's own refreshes do not.
    EXPECT_EQ(1, dlg.m_nUserEdits);
}

TEST(DialogBase, FirstEndRequestDecidesAndWindowIsNeverShown) {
    CHeadlessWindowFactory factory;
    CProbeDlg dlg;
    dlg.m_nEndInInit = 259;
    EXPECT_EQ(259, dlg.DoModal(factory));
    CHeadlessWindow* w = factory.Find(500);
    ASSERT_NE(nullptr, w);
    EXPECT_FALSE(w->everShown);
    EXPECT_FALSE(w->showRequested);
    EXPECT_EQ(259, w->result.value_or(0));
}

TEST(DialogBase, PostedCommandsAndModalChildren) {
    CHeadlessWindowFactory factory;
    CProbeDlg dlg;
    factory.scripts[500] = {[](CHeadlessWindow& w) {
        w.PostCommand(21);  // runs the child from the message loop
        EXPECT_TRUE(w.PumpMessage(0));
        EXPECT_FALSE(w.PumpMessage(0));  // nothing left
        w.Click(kIdCancel);
    }};
    EXPECT_EQ(kIdCancel, dlg.DoModal(factory));
    ASSERT_EQ(2, factory.Count(500));
    CHeadlessWindow* child = factory.Find(500, 1);
    EXPECT_EQ(factory.Find(500, 0), child->parent);
    EXPECT_EQ("child", child->Text(10));
    EXPECT_TRUE(child->everShown);
    EXPECT_EQ(kIdCancel, dlg.m_nChildResult);  // closed by the person
}

TEST(DialogBase, DisabledButtonCannotBeClicked) {
    CHeadlessWindowFactory factory;
    CProbeDlg dlg;
    factory.scripts[500] = {[](CHeadlessWindow& w) {
        w.EnableItem(kIdOk, false);
        w.Click(kIdOk);
        EXPECT_TRUE(w.clickedDisabled);
        w.EnableItem(kIdOk, true);
        w.Click(kIdOk);
    }};
    EXPECT_EQ(kIdOk, dlg.DoModal(factory));
}

TEST(Strings, EnglishAndJapanesePartners) {
    EXPECT_EQ("Version information of Varnel(&A)...", LoadText(101));
    EXPECT_EQ("The file may be broken.", LoadText(IDS_FILE_BROKEN));
    EXPECT_EQ("\xE5\x8F\xB0", LoadText(142));  // 台
    EXPECT_EQ("units", LoadText(143));
    EXPECT_EQ("", LoadText(144));
    EXPECT_EQ("", LoadText(145));
    EXPECT_EQ("", LoadText(100));
    EXPECT_EQ("", LoadText(150));
    // The two Japanese-only notes keep their line breaks.
    EXPECT_NE(std::string::npos, LoadText(146).find("\n\r\n\r"));
    EXPECT_NE(std::string::npos, LoadText(147).find("\n\r"));
    for (unsigned id = 101; id <= 149; id += 2) {
        if (id == 145 || id == 147)
            continue;  // unused; Japanese only
        for (char c : LoadText(id))
            EXPECT_LT(static_cast<unsigned char>(c), 0x80) << id;
    }
}

}  // namespace
