/* Proxy settings and the check of the cryptographic service. */
#pragma once

/* Fills the proxy values; always 0. */
int InitializeProxyDetails(void);
/* 1 when the provider and both user key pairs are usable (made when missing), else 0. */
int CheckCryptographicClient(void);
/* New heap text with the decoded bytes; empty for a null or invalid text. */
char *DecodeProxyPassword(const char *encoded);
/* Bytes written into out, or -1 on bad input or too small a capacity. A
 * negative length stands for the text's own length. */
int Base64DecodeBuffer(unsigned char *out, int capacity, const char *text, int length);
