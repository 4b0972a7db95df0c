#include "app/windows/folder_access.hpp"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#include <wincrypt.h>

#include <algorithm>
#include <boost/system/error_code.hpp>
#include <cctype>
#include <stdexcept>

namespace tamro {
namespace {

[[noreturn]] void fail(const std::string& what, DWORD code) {
  throw std::runtime_error(what + ": " +
                           boost::system::system_category().message(static_cast<int>(code)));
}

}  // namespace

// S-1-5-80- and the SHA-1 of the upper-case name in UTF-16LE, read as five little-endian
// 32-bit numbers: how the service control manager names a service's account.
std::string service_account_sid(const std::string& service) {
  std::string utf16;
  for (const char c : service) {
    utf16 += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    utf16 += '\0';
  }
  BYTE digest[20];
  DWORD size = sizeof digest;
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  const bool hashed =
      ::CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) &&
      ::CryptCreateHash(provider, CALG_SHA1, 0, 0, &hash) &&
      ::CryptHashData(hash, reinterpret_cast<const BYTE*>(utf16.data()),
                      static_cast<DWORD>(utf16.size()), 0) &&
      ::CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0) && size == sizeof digest;
  const DWORD error = ::GetLastError();
  if (hash) ::CryptDestroyHash(hash);
  if (provider) ::CryptReleaseContext(provider, 0);
  if (!hashed) fail("cannot compute the account of the service " + service, error);
  std::string sid = "S-1-5-80";
  for (int i = 0; i < 5; ++i) {
    const unsigned long part = static_cast<unsigned long>(digest[4 * i]) |
                               static_cast<unsigned long>(digest[4 * i + 1]) << 8 |
                               static_cast<unsigned long>(digest[4 * i + 2]) << 16 |
                               static_cast<unsigned long>(digest[4 * i + 3]) << 24;
    sid += "-" + std::to_string(part);
  }
  return sid;
}

std::string access_text(const std::vector<folder_access>& entries) {
  static const char* const letters[] = {"F", "M", "RX"};
  std::string text;
  for (const folder_access& entry : entries)
    text += (text.empty() ? "" : " ") + entry.account + ":(OI)(CI)(" + letters[entry.granted] + ")";
  return text;
}

void protect_folder(const std::string& folder, const std::vector<folder_access>& entries) {
  // FILE_ALL_ACCESS; icacls' M (everything but changing the access list and the owner); RX.
  static const char* const masks[] = {"FA", "0x1301bf", "0x1200a9"};
  std::string sddl = "D:P";
  for (const folder_access& entry : entries)
    sddl += std::string("(A;OICI;") + masks[entry.granted] + ";;;" + entry.sid + ")";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr))
    fail("cannot read the access list " + sddl, ::GetLastError());
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  const BOOL read = ::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
  const DWORD read_error = ::GetLastError();
  if (!read || !present) {
    ::LocalFree(descriptor);
    fail("cannot read the access list " + sddl, read ? ERROR_INVALID_ACL : read_error);
  }
  // Also hands the inheritable entries down to what the folder already holds.
  std::string path = folder;
  const DWORD result = ::SetNamedSecurityInfoA(
      path.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
      nullptr, nullptr, dacl, nullptr);
  ::LocalFree(descriptor);
  if (result != ERROR_SUCCESS) fail("cannot set the access list of " + folder, result);
}

}  // namespace tamro
