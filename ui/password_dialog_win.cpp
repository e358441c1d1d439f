#include "ui/password_dialog.h"

// Stands in until the password dialog exists: behaves as a cancelled prompt,
// so an entry without a stored password starts no session.
bool ask_password(const std::wstring&, std::string&)
{
    return false;
}
