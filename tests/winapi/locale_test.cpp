/* GetLocaleInfoA of the stand-in: ISO names of Windows locale ids, size protocol. */
#include "support/scratch_root.h"
#include "winapi/winapi.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string Info(LCID lcid, LCTYPE type) {
    char buf[16];
    memset(buf, 0x7F, sizeof buf);
    const int n = GetLocaleInfoA(lcid, type, buf, sizeof buf);
    if (n == 0) return "<error " + std::to_string(GetLastError()) + ">";
    EXPECT_EQ(static_cast<size_t>(n), strlen(buf) + 1) << "result counts the terminator";
    return buf;
}

struct LocaleCase {
    LCID lcid;
    const char *language;
    const char *country;
};

TEST(Locale, IsoNamesOfLocaleIds) {
    const LocaleCase cases[] = {
        {0x0409, "en", "US"}, {0x0809, "en", "GB"}, {0x0407, "de", "DE"}, {0x0807, "de", "CH"},
        {0x040C, "fr", "FR"}, {0x0C0C, "fr", "CA"}, {0x0410, "it", "IT"}, {0x0C0A, "es", "ES"},
        {0x0411, "ja", "JP"}, {0x0412, "ko", "KR"}, {0x0804, "zh", "CN"}, {0x0404, "zh", "TW"},
        {0x0416, "pt", "BR"}, {0x0816, "pt", "PT"}, {0x0419, "ru", "RU"}, {0x041D, "sv", "SE"},
    };
    for (const LocaleCase &c : cases) {
        EXPECT_EQ(Info(c.lcid, LOCALE_SISO639LANGNAME), c.language) << std::hex << c.lcid;
        EXPECT_EQ(Info(c.lcid, LOCALE_SISO3166CTRYNAME), c.country) << std::hex << c.lcid;
        EXPECT_EQ(Info(c.lcid, LOCALE_SISO639LANGNAME | LOCALE_NOUSEROVERRIDE), c.language);
    }
}

TEST(Locale, SizeProtocol) {
    EXPECT_EQ(GetLocaleInfoA(0x0409, LOCALE_SISO639LANGNAME, nullptr, 0), 3) << "size query";
    char buf[8];
    memset(buf, 'x', sizeof buf);
    SetLastError(0);
    EXPECT_EQ(GetLocaleInfoA(0x0409, LOCALE_SISO3166CTRYNAME, buf, 2), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(buf[2], 'x') << "written past the size given";
    memset(buf, 'x', sizeof buf);
    EXPECT_EQ(GetLocaleInfoA(0x0409, LOCALE_SISO3166CTRYNAME, buf, 3), 3) << "exact fit";
    EXPECT_STREQ(buf, "US");
    EXPECT_EQ(buf[3], 'x');
}

TEST(Locale, Failures) {
    char buf[8];
#ifdef WINAPI_STANDIN  // a kind of information the stand-in does not keep
    SetLastError(0);
    EXPECT_EQ(GetLocaleInfoA(0x0409, 0x0002 /* LOCALE_SLANGUAGE */, buf, sizeof buf), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FLAGS));
#endif
    SetLastError(0);
    EXPECT_EQ(GetLocaleInfoA(0xABCD, LOCALE_SISO639LANGNAME, buf, sizeof buf), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    SetLastError(0);
    EXPECT_EQ(GetLocaleInfoA(0x0409, LOCALE_SISO639LANGNAME, nullptr, 4), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(Locale, DefaultLocalesFollowTheMachineLanguage) {
    vt_test::ScratchRoot root;
    EXPECT_EQ(Info(LOCALE_USER_DEFAULT, LOCALE_SISO639LANGNAME), "en") << "no language configured";
    root.WriteHive("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Nls\\Language]\n"
                   "\"InstallLanguage\"=\"0407\"\n\n");
    EXPECT_EQ(Info(LOCALE_SYSTEM_DEFAULT, LOCALE_SISO3166CTRYNAME), "DE");
    root.WriteHive("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Nls\\Language]\n"
                   "\"Default\"=\"040c\"\n\"InstallLanguage\"=\"0407\"\n\n");
    EXPECT_EQ(Info(LOCALE_USER_DEFAULT, LOCALE_SISO639LANGNAME), "fr");
}

}  // namespace
