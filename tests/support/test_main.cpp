// Entry point of every test program.
#include <windows.h>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // A test must fail, never wait for someone to dismiss a system error box.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX | SEM_NOGPFAULTERRORBOX);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
