#pragma once

namespace vokar::operatord {

// vokar-accounts: creates, deletes and lists the operator's accounts through
// AccountManager. Returns the exit status: 0 done, 1 failed, 2 bad command
// line, configuration or account data, 3 the account exists (create) or
// does not (delete).
int run_accounts_tool(int argc, char** argv);

} // namespace vokar::operatord
