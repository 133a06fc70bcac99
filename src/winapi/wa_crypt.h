/* CryptoAPI of the stand-in: key containers with RSA key pairs, kept as PEM files
 * under <root>/crypto (see crypt.cpp). */
#pragma once
#include "winapi/wa_types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef ULONG_PTR HCRYPTPROV;
typedef ULONG_PTR HCRYPTKEY;
typedef unsigned int ALG_ID;

#define MS_DEF_PROV_A "Microsoft Base Cryptographic Provider v1.0"
#define MS_ENHANCED_PROV_A "Microsoft Enhanced Cryptographic Provider v1.0"
#define MS_STRONG_PROV_A "Microsoft Strong Cryptographic Provider"

#define PROV_RSA_FULL 1

#define CRYPT_VERIFYCONTEXT 0xF0000000u
#define CRYPT_NEWKEYSET 0x00000008
#define CRYPT_DELETEKEYSET 0x00000010
#define CRYPT_MACHINE_KEYSET 0x00000020
#define CRYPT_SILENT 0x00000040

#define AT_KEYEXCHANGE 1
#define AT_SIGNATURE 2
#define CALG_RSA_SIGN 0x00002400
#define CALG_RSA_KEYX 0x0000a400

#define CRYPT_EXPORTABLE 0x00000001
#define CRYPT_USER_PROTECTED 0x00000002

#define NTE_BAD_UID ((HRESULT)0x80090001L)
#define NTE_BAD_KEY ((HRESULT)0x80090003L)
#define NTE_BAD_ALGID ((HRESULT)0x80090008L)
#define NTE_BAD_FLAGS ((HRESULT)0x80090009L)
#define NTE_NO_KEY ((HRESULT)0x8009000DL)
#define NTE_NO_MEMORY ((HRESULT)0x8009000EL)
#define NTE_EXISTS ((HRESULT)0x8009000FL)
#define NTE_BAD_KEYSET ((HRESULT)0x80090016L)
#define NTE_PROV_TYPE_NOT_DEF ((HRESULT)0x80090017L)
#define NTE_KEYSET_NOT_DEF ((HRESULT)0x80090019L)
#define NTE_PROV_TYPE_NO_MATCH ((HRESULT)0x8009001BL)
#define NTE_BAD_KEYSET_PARAM ((HRESULT)0x8009001FL)
#define NTE_FAIL ((HRESULT)0x80090020L)

/* A context for a key container (the default one when container is null).
 * Without flags a missing container fails with NTE_BAD_KEYSET; CRYPT_NEWKEYSET
 * creates it (NTE_EXISTS when present); CRYPT_DELETEKEYSET removes it. */
BOOL CryptAcquireContextA(HCRYPTPROV *provider, LPCSTR container, LPCSTR providerName, DWORD providerType,
                          DWORD flags);
BOOL CryptReleaseContext(HCRYPTPROV provider, DWORD flags);
/* The container's pair for AT_SIGNATURE or AT_KEYEXCHANGE; NTE_NO_KEY when it has none. */
BOOL CryptGetUserKey(HCRYPTPROV provider, DWORD keySpec, HCRYPTKEY *key);
/* Makes (and stores) a new RSA pair; the key length in bits may be given in the
 * upper 16 bits of flags (default 1024). */
BOOL CryptGenKey(HCRYPTPROV provider, ALG_ID algorithm, DWORD flags, HCRYPTKEY *key);
BOOL CryptDestroyKey(HCRYPTKEY key);

#ifdef __cplusplus
}
#endif
