// The card's SIM Toolkit session through AT+STGI / AT+STGR / +STIN: a
// two-level menu walked with input and confirmation, the errors a host gets
// for answers out of turn, refused input, cancel, time-out, and a card that
// registers only once.
#include "TestNames.h"
#include "SimFixture.h"

namespace modemsim_test {
namespace {

const char* const kMenuCard =
    "wind = 1\n"
    "stsf = 1\n"
    "card = A\n"
    "[card A]\n"
    "menu = main\n"
    "[node main]\ntype = menu\ntitle = Kartu Perdana\n"
    "item.1 = Registrasi -> reg\n"
    "item.2 = Info, Kartu -> info\n"
    "item.128 = Bantuan -> info\n"
    "action.128 = 21\n"
    "[node reg]\ntype = select\ntitle = Registrasi Kartu\ndefault = 1\n"
    "item.3 = Baru -> nik\n"
    "item.7 = Lagu -> key\n"
    "[node nik]\ntype = input\nprompt = Masukkan NIK\nmin = 16\nmax = 16\n"
    "next = wait\nwrong = bad\nif_registered = already\n"
    "[node wait]\ntype = display\ntext = Mohon tunggu, data sedang diproses\nnext = done\n"
    "[node done]\ntype = display\ntext = Registrasi berhasil\nregisters = 1\nnext = end\n"
    "[node already]\ntype = display\ntext = Kartu sudah terdaftar\\nterima kasih\nnext = end\n"
    "[node bad]\ntype = display\ntext = NIK salah, registrasi gagal\nnext = end\n"
    "[node info]\ntype = sms\ntext = Kirim info\nnext = end\n"
    "[node key]\ntype = inkey\nprompt = Setuju?\nformat = 1\naccept = y\nnext = done\nwrong = end\n"
    "[node end]\ntype = end\n";

class Toolkit : public SimFixture {
 protected:
  // Echo off, error codes on, and a reset so the card's menu arrives now.
  void Boot(const std::string& extra = "") {
    Start(extra + kMenuCard);
    ASSERT_EQ(host->Command("ATE0\r"), "ATE0\r\r\nOK\r\n");
    ASSERT_EQ(host->Command("AT+CFUN=1\r"), "\r\nOK\r\n");
    ASSERT_EQ(host->ReadUntil("+STIN: 0\r\n"), "\r\n+WIND: 1\r\n\r\n+STIN: 0\r\n");
    // The reset put echo back on and error codes off.
    ASSERT_EQ(host->Command("ATE0\r"), "ATE0\r\r\nOK\r\n");
    ASSERT_EQ(host->Command("AT+CMEE=1\r"), "\r\nOK\r\n");
  }
  // Sends an accepted answer and returns the card's next notification.
  std::string Answer(const std::string& command) {
    EXPECT_EQ(host->Command(command), "\r\nOK\r\n") << command;
    return host->ReadLine("+STIN: ");
  }
  void ToInput() {
    ASSERT_EQ(Answer("AT+STGR=0,1,1\r"), "\r\n+STIN: 6\r\n");
    ASSERT_EQ(Answer("AT+STGR=6,1,3\r"), "\r\n+STIN: 3\r\n");
  }
};

TEST_F(Toolkit, TwoLevelMenuWithInputAndConfirmationRegistersTheCard) {
  Boot();
  EXPECT_EQ(host->Command("AT+STGI=0\r"),
            "\r\n+STGI: \"Kartu Perdana\"\r\n"
            "+STGI: 1,3,\"Registrasi\",0\r\n"
            "+STGI: 2,3,\"Info, Kartu\",0\r\n"
            "+STGI: 128,3,\"Bantuan\",0,21\r\n"
            "\r\nOK\r\n");
  EXPECT_EQ(Answer("AT+STGR=0,1,1\r"), "\r\n+STIN: 6\r\n");
  EXPECT_EQ(host->Command("AT+STGI=6\r"),
            "\r\n+STGI: 1,\"Registrasi Kartu\"\r\n"
            "+STGI: 3,2,\"Baru\",0\r\n"
            "+STGI: 7,2,\"Lagu\",0\r\n"
            "\r\nOK\r\n");
  EXPECT_EQ(Answer("AT+STGR=6,1,3\r"), "\r\n+STIN: 3\r\n");
  EXPECT_EQ(host->Command("AT+STGI=3\r"), "\r\n+STGI: 0,1,16,16,0,\"Masukkan NIK\"\r\n\r\nOK\r\n");
  EXPECT_EQ(host->Command("AT+STGR=3,1\r"), "\r\n> ");
  host->Send("3201234567890001\x1a");
  EXPECT_EQ(host->ReadUntil("OK\r\n"), "\r\nOK\r\n");
  EXPECT_EQ(host->ReadUntil("\r\n+STIN: 1\r\n"), "\r\n+STIN: 1\r\n");
  EXPECT_EQ(host->Command("AT+STGI=1\r"),
            "\r\n+STGI: 0,\"Mohon tunggu, data sedang diproses\",1\r\n\r\nOK\r\n");
  EXPECT_FALSE(modem->Status().cardRegistered);
  EXPECT_EQ(Answer("AT+STGR=1,1,0\r"), "\r\n+STIN: 1\r\n");
  EXPECT_EQ(host->Command("AT+STGI=1\r"), "\r\n+STGI: 0,\"Registrasi berhasil\",1\r\n\r\nOK\r\n");
  EXPECT_TRUE(modem->Status().cardRegistered);
  EXPECT_EQ(Answer("AT+STGR=1,1,0\r"), "\r\n+STIN: 99\r\n");
}

TEST_F(Toolkit, ARegisteredCardSaysSoWhereItWouldAskForInput) {
  Boot();
  ToInput();
  EXPECT_EQ(host->Command("AT+STGR=3,1\r"), "\r\n> ");
  host->Send("3201234567890001\x1a");
  host->ReadUntil("+STIN: 1\r\n");
  EXPECT_EQ(Answer("AT+STGR=1,1,0\r"), "\r\n+STIN: 1\r\n");
  EXPECT_EQ(Answer("AT+STGR=1,1,0\r"), "\r\n+STIN: 99\r\n");
  ASSERT_TRUE(modem->Status().cardRegistered);
  ASSERT_EQ(Answer("AT+STGR=0,1,1\r"), "\r\n+STIN: 6\r\n");
  EXPECT_EQ(Answer("AT+STGR=6,1,3\r"), "\r\n+STIN: 1\r\n");
  EXPECT_EQ(host->Command("AT+STGI=1\r"),
            "\r\n+STGI: 0,\"Kartu sudah terdaftar\nterima kasih\",1\r\n\r\nOK\r\n");
}

TEST_F(Toolkit, RefusedInputShowsTheCardsErrorAndEndsTheSession) {
  Boot();
  ToInput();
  EXPECT_EQ(host->Command("AT+STGR=3,1\r"), "\r\n> ");
  host->Send("12345\x1a");
  host->ReadUntil("+STIN: 1\r\n");
  EXPECT_EQ(host->Command("AT+STGI=1\r"), "\r\n+STGI: 0,\"NIK salah, registrasi gagal\",1\r\n\r\nOK\r\n");
  EXPECT_EQ(Answer("AT+STGR=1,1,0\r"), "\r\n+STIN: 99\r\n");
  EXPECT_FALSE(modem->Status().cardRegistered);
}

struct OutOfTurn {
  const char* command;
  const char* reply;
};
MODEMSIM_ROW_NAME(OutOfTurn, command)


class ToolkitOutOfTurn : public Toolkit, public ::testing::WithParamInterface<OutOfTurn> {};

// With the card's Select Item pending.
TEST_P(ToolkitOutOfTurn, IsRefused) {
  Boot();
  ASSERT_EQ(Answer("AT+STGR=0,1,1\r"), "\r\n+STIN: 6\r\n");
  EXPECT_EQ(host->Command(GetParam().command), GetParam().reply);
  EXPECT_EQ(modem->Status().pendingStk, 6);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ToolkitOutOfTurn,
    ::testing::Values(OutOfTurn{"AT+STGI=3\r", "\r\n+CME ERROR: 3\r\n"},
                      OutOfTurn{"AT+STGI=12\r", "\r\n+CME ERROR: 3\r\n"},
                      OutOfTurn{"AT+STGR=6,1,2\r", "\r\n+CME ERROR: 3\r\n"},
                      OutOfTurn{"AT+STGR=1,1,0\r", "\r\n+CME ERROR: 3\r\n"},
                      OutOfTurn{"AT+STGR=3,1\r", "\r\n+CME ERROR: 3\r\n"},
                      OutOfTurn{"AT+STGR=0,1,9\r", "\r\n+CME ERROR: 3\r\n"},
                      OutOfTurn{"AT+STGR=6,2,3\r", "\r\nOK\r\n"},
                      OutOfTurn{"AT+STIN?\r", "\r\n+STIN: 6\r\n\r\nOK\r\n"}));

TEST_F(Toolkit, NothingPendingGives518) {
  Boot();
  EXPECT_EQ(host->Command("AT+STGI=1\r"), "\r\n+CME ERROR: 518\r\n");
  EXPECT_EQ(host->Command("AT+STGR=99\r"), "\r\n+CME ERROR: 3\r\n");
  EXPECT_EQ(host->Command("AT+CMEE=0\r"), "\r\nOK\r\n");
  EXPECT_EQ(host->Command("AT+STGI=6\r"), "\r\nERROR\r\n");
}

TEST_F(Toolkit, EscapeCancelsTheInputAndTheCommandStaysPending) {
  Boot();
  ToInput();
  EXPECT_EQ(host->Command("AT+STGR=3,1\r"), "\r\n> ");
  host->Send("32\x1b");
  EXPECT_EQ(host->ReadUntil("OK\r\n"), "\r\nOK\r\n");
  EXPECT_EQ(host->ReadFor(100ms), "");
  EXPECT_EQ(modem->Status().pendingStk, 3);
}

TEST_F(Toolkit, UnansweredCommandTimesOutAndTheCardEndsTheSession) {
  // STSF time-out 3 units of 20 ms.
  Boot("stk_timeout_unit_ms = 20\n");
  ASSERT_EQ(Answer("AT+STGR=0,1,1\r"), "\r\n+STIN: 6\r\n");
  EXPECT_EQ(host->ReadUntil("+STIN: 99\r\n"), "\r\n+STIN: 98\r\n\r\n+STIN: 99\r\n");
  EXPECT_EQ(modem->Status().pendingStk, -1);
}

TEST_F(Toolkit, EndSessionAndBackAreAnswered) {
  Boot();
  ASSERT_EQ(Answer("AT+STGR=0,1,1\r"), "\r\n+STIN: 6\r\n");
  EXPECT_EQ(Answer("AT+STGR=6,3\r"), "\r\n+STIN: 99\r\n");  // back from the first level
  ASSERT_EQ(Answer("AT+STGR=0,1,1\r"), "\r\n+STIN: 6\r\n");
  EXPECT_EQ(Answer("AT+STGR=99\r"), "\r\n+STIN: 99\r\n");
}

TEST_F(Toolkit, GetInkeyTakesItsKeyInline) {
  Boot();
  ASSERT_EQ(Answer("AT+STGR=0,1,1\r"), "\r\n+STIN: 6\r\n");
  ASSERT_EQ(Answer("AT+STGR=6,1,7\r"), "\r\n+STIN: 2\r\n");
  EXPECT_EQ(host->Command("AT+STGI=2\r"), "\r\n+STGI: 1,0,\"Setuju?\"\r\n\r\nOK\r\n");
  EXPECT_EQ(Answer("AT+STGR=2,1,\"y\"\r"), "\r\n+STIN: 1\r\n");
  EXPECT_TRUE(modem->Status().cardRegistered);
}

TEST_F(Toolkit, SendSmsIsShownAtOnceWithAutoResponseAndTheCardGoesOn) {
  Boot();
  EXPECT_EQ(host->Command("AT+STGR=0,1,2\r"), "\r\nOK\r\n");
  EXPECT_EQ(host->ReadUntil("+STIN: 99\r\n"),
            "\r\n+STIN: 9\r\n\r\n+STGI: \"Kirim info\"\r\n\r\n+STIN: 99\r\n");
}

TEST_F(Toolkit, DisplayWithClearModeZeroClearsItself) {
  Start(std::string("display_clear_ms = 30\n") + kMenuCard +
        "[node cleared]\ntype = display\ntext = Sebentar\nclear = 0\nnext = end\n"
        "[card C]\nmenu = cmenu\n"
        "[node cmenu]\ntype = menu\ntitle = C\nitem.1 = Go -> cleared\n");
  host->Command("ATE0\r");
  modem->RemoveCard();
  modem->InsertCard("C");
  ASSERT_NE(host->ReadUntil("+STIN: 0\r\n").find("+STIN: 0"), std::string::npos);
  ASSERT_EQ(Answer("AT+STGR=0,1,1\r"), "\r\n+STIN: 1\r\n");
  EXPECT_EQ(host->Command("AT+STGI=1\r"), "\r\n+STGI: 0,\"Sebentar\",0\r\n\r\nOK\r\n");
  EXPECT_EQ(host->ReadUntil("+STIN: 99\r\n"), "\r\n+STIN: 99\r\n");
}

}  // namespace
}  // namespace modemsim_test

namespace modemsim_test {
namespace {

TEST_F(Toolkit, MenuAskedForBeforeTheCardSentItIsNotThereYet) {
  Start(std::string("menu_ms = 300\n") + kMenuCard);
  host->Command("ATE0\r");
  host->Command("AT+CMEE=1\r");
  host->Command("AT+CFUN=1\r");
  EXPECT_EQ(host->ReadLine("+WIND: 1"), "\r\n+WIND: 1\r\n");
  EXPECT_EQ(host->Command("AT+CMEE=1;+STGI=0\r"), "AT+CMEE=1;+STGI=0\r\r\n+CME ERROR: 518\r\n");
  EXPECT_EQ(host->ReadLine("+STIN: 0"), "\r\n+STIN: 0\r\n");
  EXPECT_NE(host->Command("AT+STGI=0\r").find("+STGI: \"Kartu Perdana\""), std::string::npos);
}

TEST_F(Toolkit, WithoutInitDelaysTheRebootEndsInOneBurst) {
  Start(std::string("sim_init_ms = 0\nmenu_ms = 0\n") + kMenuCard);
  host->Command("ATE0\r");
  const size_t mark = modem->Transcript().Entries().size();
  host->Command("AT+CFUN=1\r");
  EXPECT_EQ(host->ReadLine("+STIN: 0"), "\r\n+WIND: 1\r\n\r\n+STIN: 0\r\n");
  const auto entries = modem->Transcript().Entries();
  std::vector<std::string> writes;
  for (size_t i = mark; i < entries.size(); ++i)
    if (entries[i].direction == modemsim::Direction::FromModem) writes.push_back(entries[i].bytes);
  EXPECT_EQ(writes, (std::vector<std::string>{"\r\nOK\r\n", "\r\n+WIND: 1\r\n\r\n+STIN: 0\r\n"}));
}

// Firmware differs in how it prints the menus: the manual's worked example
// has no title line in the main menu, and field traces show a Select Item
// header with two more numbers before the title.
struct MenuShape {
  std::string name;
  std::string keys;
  std::string mainMenu;
  std::string selectItem;
};
inline void PrintTo(const MenuShape& row, std::ostream* os) { *os << row.name; }

class MenuShapes : public Toolkit, public ::testing::WithParamInterface<MenuShape> {};

TEST_P(MenuShapes, AreAsTheFirmwarePrintsThem) {
  Boot(GetParam().keys);
  const std::string items =
      "+STGI: 1,3,\"Registrasi\",0\r\n+STGI: 2,3,\"Info, Kartu\",0\r\n+STGI: 128,3,\"Bantuan\",0,21\r\n";
  EXPECT_EQ(host->Command("AT+STGI=0\r"), "\r\n" + GetParam().mainMenu + items + "\r\nOK\r\n");
  EXPECT_EQ(Answer("AT+STGR=0,1,1\r"), "\r\n+STIN: 6\r\n");
  EXPECT_EQ(host->Command("AT+STGI=6\r"), "\r\n" + GetParam().selectItem +
                                              "+STGI: 3,2,\"Baru\",0\r\n+STGI: 7,2,\"Lagu\",0\r\n\r\nOK\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Table, MenuShapes,
    ::testing::Values(
        MenuShape{"as_the_manual_says", "", "+STGI: \"Kartu Perdana\"\r\n",
                  "+STGI: 1,\"Registrasi Kartu\"\r\n"},
        MenuShape{"main_menu_without_title", "menu_title = 0\n", "",
                  "+STGI: 1,\"Registrasi Kartu\"\r\n"},
        MenuShape{"long_select_header", "select_header = long\n", "+STGI: \"Kartu Perdana\"\r\n",
                  "+STGI: 1,0,0,\"Registrasi Kartu\"\r\n"}));

}  // namespace
}  // namespace modemsim_test
