#include "tools/operator/services/daemon.h"

int main(int argc, char** argv)
{
    return vokar::operatord::run_daemon(argc, argv);
}
