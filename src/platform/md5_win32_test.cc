#include <gtest/gtest.h>

#include "platform/md5.h"
#include "platform/win32.h"

namespace platform {
namespace {

TEST(Md5ProviderWin32, ContainerIsCreatedOnFirstUseAndKept) {
  HCRYPTPROV gone = 0;
  CryptAcquireContextA(&gone, "UpdatePacker", nullptr, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
  HCRYPTPROV probe = 0;
  ASSERT_FALSE(CryptAcquireContextA(&probe, "UpdatePacker", nullptr, PROV_RSA_FULL, 0));
  ASSERT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_KEYSET));

  Md5Provider provider;
  ASSERT_TRUE(provider.acquire());
  EXPECT_EQ(md5HexOf(provider, "abc", 3), "900150983CD24FB0D6963F7D28E17F72");
  provider.release();
  ASSERT_TRUE(CryptAcquireContextA(&probe, "UpdatePacker", nullptr, PROV_RSA_FULL, 0));
  CryptReleaseContext(probe, 0);
}

}  // namespace
}  // namespace platform
