// The tabrook executable: the global application object and the entry.
#include "app/tabrook_app.h"

namespace {
CTabrookApp theApp;
}

int main(int argc, char** argv) {
    return AfxWinMain(argc, argv);
}
