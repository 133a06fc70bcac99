// Key containers: acquisition flags and their error codes, key pairs made and
// read back, and handle discipline.
#include "winapi/winapi.h"

#include "support/scratch_root.h"
#include "support/wine.h"

#include <gtest/gtest.h>

namespace {

DWORD Code(HRESULT hr) { return static_cast<DWORD>(hr); }

TEST(CryptTest, ContainerLifeCycleAndCodes) {
    vt_test::ScratchRoot root;
    HCRYPTPROV provider = 0x1234;
    SetLastError(0);
    EXPECT_FALSE(CryptAcquireContextA(&provider, nullptr, MS_DEF_PROV_A, PROV_RSA_FULL, 0));
    EXPECT_EQ(Code(NTE_BAD_KEYSET), GetLastError());

    ASSERT_TRUE(CryptAcquireContextA(&provider, nullptr, MS_DEF_PROV_A, PROV_RSA_FULL, CRYPT_NEWKEYSET));
    HCRYPTPROV second = 0;
    EXPECT_FALSE(CryptAcquireContextA(&second, nullptr, MS_DEF_PROV_A, PROV_RSA_FULL, CRYPT_NEWKEYSET));
    EXPECT_EQ(Code(NTE_EXISTS), GetLastError());

    HCRYPTKEY key = 0;
    EXPECT_FALSE(CryptGetUserKey(provider, AT_SIGNATURE, &key));
    EXPECT_EQ(Code(NTE_NO_KEY), GetLastError());
    EXPECT_FALSE(CryptGetUserKey(provider, 7, &key));
    EXPECT_EQ_OR_WINE(Code(NTE_BAD_KEY), Code(NTE_NO_KEY), GetLastError());
    EXPECT_FALSE(CryptGenKey(provider, 0x6610, 0, &key));
    EXPECT_EQ(Code(NTE_BAD_ALGID), GetLastError());

    ASSERT_TRUE(CryptGenKey(provider, AT_SIGNATURE, 0, &key));
    EXPECT_TRUE(CryptDestroyKey(key));
    EXPECT_FALSE(CryptDestroyKey(key)) << "a destroyed key is gone";
#ifdef WINAPI_STANDIN  // where the stand-in keeps its containers
    EXPECT_TRUE(vt_test::PathExists(root.path() + "/crypto/user/Default/signature.pem"));
    EXPECT_FALSE(vt_test::PathExists(root.path() + "/crypto/user/Default/exchange.pem"));
#endif
    EXPECT_TRUE(CryptReleaseContext(provider, 0));
    EXPECT_FALSE(CryptReleaseContext(provider, 0));
    EXPECT_EQ_OR_WINE(Code(NTE_BAD_UID), ERROR_INVALID_PARAMETER, GetLastError());

    /* A new context on the same container finds the stored pair. */
    ASSERT_TRUE(CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, 0));
    ASSERT_TRUE(CryptGetUserKey(provider, AT_SIGNATURE, &key));
    EXPECT_TRUE(CryptDestroyKey(key));
    EXPECT_FALSE(CryptGetUserKey(provider, AT_KEYEXCHANGE, &key));
    EXPECT_EQ(Code(NTE_NO_KEY), GetLastError());
    EXPECT_TRUE(CryptReleaseContext(provider, 0));

    EXPECT_TRUE(CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_DELETEKEYSET));
#ifdef WINAPI_STANDIN  // where the stand-in keeps its containers
    EXPECT_FALSE(vt_test::PathExists(root.path() + "/crypto/user/Default"));
#endif
    EXPECT_FALSE(CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_DELETEKEYSET));
    EXPECT_EQ(Code(NTE_BAD_KEYSET), GetLastError());
}

TEST(CryptTest, ParameterChecks) {
    vt_test::ScratchRoot root;
    HCRYPTPROV provider = 0;
    struct Case {
        const char *container;
        const char *providerName;
        DWORD type;
        DWORD flags;
        HRESULT expect;
    };
    const Case cases[] = {
        {nullptr, "Some Other Provider", PROV_RSA_FULL, 0, NTE_KEYSET_NOT_DEF},
        {nullptr, MS_DEF_PROV_A, 24, 0, NTE_PROV_TYPE_NO_MATCH},
        {nullptr, nullptr, 24, 0, NTE_PROV_TYPE_NOT_DEF},
        {nullptr, nullptr, PROV_RSA_FULL, 0x4, NTE_BAD_FLAGS},
        {nullptr, nullptr, PROV_RSA_FULL, CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET, NTE_BAD_FLAGS},
        {"..", nullptr, PROV_RSA_FULL, CRYPT_NEWKEYSET, NTE_BAD_KEYSET_PARAM},
        {"a/b", nullptr, PROV_RSA_FULL, CRYPT_NEWKEYSET, NTE_BAD_KEYSET_PARAM},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.flags);
        SetLastError(0);
        EXPECT_FALSE(CryptAcquireContextA(&provider, c.container, c.providerName, c.type, c.flags));
        EXPECT_EQ(Code(c.expect), GetLastError());
    }
#ifdef WINAPI_STANDIN  // where the stand-in keeps its containers
    EXPECT_FALSE(vt_test::PathExists(root.path() + "/crypto/user/a"));
#endif
}

TEST(CryptTest, VerificationContextKeepsNothing) {
    vt_test::ScratchRoot root;
    HCRYPTPROV provider = 0;
    ASSERT_TRUE(CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
    HCRYPTKEY key = 0;
    EXPECT_FALSE(CryptGetUserKey(provider, AT_KEYEXCHANGE, &key));
    EXPECT_EQ(Code(NTE_NO_KEY), GetLastError());
    ASSERT_TRUE(CryptGenKey(provider, CALG_RSA_KEYX, 0, &key));
    EXPECT_TRUE(CryptDestroyKey(key));
    EXPECT_TRUE(CryptReleaseContext(provider, 0));
    EXPECT_FALSE(CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, 0));  // no container was made
    EXPECT_EQ(Code(NTE_BAD_KEYSET), GetLastError());
#ifdef WINAPI_STANDIN  // where the stand-in keeps its containers
    EXPECT_FALSE(vt_test::PathExists(root.path() + "/crypto"));
#endif
}

}  // namespace
