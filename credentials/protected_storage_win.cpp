#include "credentials/protected_storage.h"

#include <windows.h>
#include <bcrypt.h>
#include <ntsecapi.h>
#include <wincrypt.h>

#include "app/agent_config_win.h"
#include "app/agent_state.h"
#include "app/win_util.h"
#include "credentials/password_alphabet.h"

namespace {

constexpr wchar_t BLOB_DESCRIPTION[] = L"Tessaly";

std::string base64_encode(const BYTE* data, DWORD size)
{
    const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    DWORD length = 0;
    if (!CryptBinaryToStringA(data, size, flags, nullptr, &length) || length == 0)
        return {};
    std::string text(length, '\0');
    if (!CryptBinaryToStringA(data, size, flags, text.data(), &length))
        return {};
    text.resize(length);  // the second call reports the length without the terminator
    return text;
}

std::string base64_decode(const std::string& text)
{
    DWORD size = 0;
    if (!CryptStringToBinaryA(text.c_str(), DWORD(text.size()), CRYPT_STRING_BASE64, nullptr,
                              &size, nullptr, nullptr) || size == 0)
        return {};
    std::string bytes(size, '\0');
    if (!CryptStringToBinaryA(text.c_str(), DWORD(text.size()), CRYPT_STRING_BASE64,
                              reinterpret_cast<BYTE*>(bytes.data()), &size, nullptr, nullptr))
        return {};
    bytes.resize(size);
    return bytes;
}

} // namespace

std::string protect_secret(const std::string& secret)
{
    if (secret.empty())
        return {};
    DATA_BLOB input{DWORD(secret.size()),
                    reinterpret_cast<BYTE*>(const_cast<char*>(secret.data()))};
    DATA_BLOB output{};
    if (!CryptProtectData(&input, BLOB_DESCRIPTION, nullptr, nullptr, nullptr, 0, &output))
        return {};
    std::string text = base64_encode(output.pbData, output.cbData);
    LocalFree(output.pbData);
    return text;
}

std::string unprotect_secret(const std::string& protected_text)
{
    if (protected_text.empty())
        return {};
    std::string blob = base64_decode(protected_text);
    if (blob.empty())
        return {};
    DATA_BLOB input{DWORD(blob.size()), reinterpret_cast<BYTE*>(blob.data())};
    DATA_BLOB output{};
    if (!CryptUnprotectData(&input, nullptr, nullptr, nullptr, nullptr, 0, &output))
        return {};
    std::string secret(reinterpret_cast<const char*>(output.pbData), output.cbData);
    LocalFree(output.pbData);
    return secret;
}

std::string to_ansi(const std::wstring& text)
{
    return wide_to_ansi(text);
}

namespace {

bool bcrypt_random(std::uint8_t* bytes, std::size_t size)
{
    return BCryptGenRandom(nullptr, bytes, ULONG(size), BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}

// The same system generator through the older door of advapi32, for when
// bcrypt.dll is missing or broken.
bool rtl_random(std::uint8_t* bytes, std::size_t size)
{
    return RtlGenRandom(bytes, ULONG(size)) != FALSE;
}

constexpr RandomSource SYSTEM_SOURCES[] = {bcrypt_random, rtl_random};

} // namespace

std::span<const RandomSource> system_random_sources() { return SYSTEM_SOURCES; }

bool generate_agent_password(std::span<const RandomSource> sources)
{
    const std::string password = password_from_sources(sources);
    if (password.empty())
        return false;
    agent.config.current_password.set(password);
    return true;
}

void save_agent_password()
{
    const std::string& path = agent.config.ini_path;
    if (path.empty())
        return;
    write_server_ini_key(path, "password_enc", protect_secret(agent.config.current_password.get()));
    write_server_ini_key(path, "password", "");
}
