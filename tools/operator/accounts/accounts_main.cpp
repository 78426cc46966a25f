#include "tools/operator/accounts/accounts_tool.h"

int main(int argc, char** argv)
{
    return vokar::operatord::run_accounts_tool(argc, argv);
}
