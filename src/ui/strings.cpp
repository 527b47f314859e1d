#include "ui/strings.h"

namespace {

struct StringEntry {
    unsigned id;
    const char* text;
};

// clang-format off
const StringEntry kStrings[] = {
    {101, "Version information of Varnel(&A)..."},
    {102, "ﾄﾞﾗｲﾌﾞを選択してください。"},
    {103, "Please select the target drive."},
    {104, "対象ﾄﾞﾗｲﾌﾞがありません。"},
    {105, "Can't find the target drive."},
    {106, "現在のﾊﾞｰｼﾞｮﾝ"},
    {107, "Current version"},
    {108, "更新後のﾊﾞｰｼﾞｮﾝ"},
    {109, "New version"},
    {110, "更新"},
    {111, "UPDATE"},
    {112, "再起動"},
    {113, "REBOOT"},
    {114, "終了"},
    {115, "EXIT"},
    {116, "更新前に他の全てのｱﾌﾟﾘｹｰｼｮﾝを終了させて下さい。"},
    {117, "Please close other applications before updating."},
    {118, "正常終了しました。PCの再起動を行って下さい。"},
    {119, "Updating was completed successfully. Please reboot the PC."},
    {120, "実行中です。更新には数十秒から数分かかります。PCの電源を落とさないで下さい。"},
    {121, "Now updating. It takes a few minutes. Don't turn off the PC."},
    {122, "ﾄﾞﾗｲﾌﾞの制御ﾌﾟﾛｸﾞﾗﾑ（ﾌｧｰﾑｳｪｱ）を最新ﾊﾞｰｼﾞｮﾝに更新します。"},
    {123, "The firmware of the drive will be updated to a new version."},
    {124, "下に表示されたﾄﾞﾗｲﾌﾞを更新します。"},
    {125, "The following drive will be updated."},
    {126, "このﾌｧｲﾙは破壊されています。"},
    {127, "This file was destroyed."},
    {128, "更新に失敗しました。再度行って下さい。"},
    {129, "Updating was failed. Please repeat that."},
    {130, "更新前にﾃﾞｨｽｸを排出して下さい。"},
    {131, "Please remove a disc from the drive before updating."},
    {132, "PCの再起動に失敗しました。"},
    {133, "Rebooting was failed."},
    {134, "PCを再起動します。"},
    {135, "Now the PC is rebooting..."},
    {136, "このﾄﾞﾗｲﾌﾞは更新の必要がありません。"},
    {137, "Updating is not necessary."},
    {138, "ﾌｧｲﾙが壊れている可能性があります。"},
    {139, "The file may be broken."},
    {140, "全ての対象ﾄﾞﾗｲﾌﾞ"},
    {141, "All target drives."},
    {142, "台"},
    {143, "units"},
    {146, "インスタントＭｙＭｅｄｉａを使用する場合、インスタントＭｙＭｅｄｉａ のリカバリが必要になります。"
     "\n\r\n\r"
     "ファームウェア更新後、インスタントＭｙＭｅｄｉａのリカバリを行なってください。"},
    {147, "インスタントＭｙＭｅｄｉａを使用する場合、ＰＣの再起動後、"
     "\n\r"
     "インスタントＭｙＭｅｄｉａのリカバリを行なってください。"},
    {148, "同じﾊﾞｰｼﾞｮﾝ又は古いﾊﾞｰｼﾞｮﾝに更新します。"},
    {149, "The drive will be updated to same or older version."},
};
// clang-format on

}  // namespace

std::string LoadText(unsigned id) {
    for (const StringEntry& e : kStrings) {
        if (e.id == id)
            return e.text;
    }
    return std::string();
}
