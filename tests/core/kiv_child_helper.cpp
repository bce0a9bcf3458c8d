// A child process for the runner's tests. Each argument is one step, done in order:
//   out:TEXT   write TEXT to standard output (escapes \r \n \t \\ \xHH)
//   err:TEXT   the same to standard error
//   sleep:MS   pause
//   lines:N    write N numbered lines "line 1\n" ... (more than a pipe holds)
//   pwd        write the current directory and "\n"
//   hang       sleep until killed
//   exit:N     end with exit code N (the default is 0)
// Every write goes straight to the descriptor, so the order of the two streams is kept.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

static std::string Decode(const char* S) {
    std::string R;
    for (; *S; ++S) {
        if (*S != '\\' || !S[1]) {
            R += *S;
            continue;
        }
        ++S;
        switch (*S) {
        case 'r':
            R += '\r';
            break;
        case 'n':
            R += '\n';
            break;
        case 't':
            R += '\t';
            break;
        case 'x': {
            char Hex[3] = {S[1], S[1] ? S[2] : '\0', '\0'};
            R += char(std::strtol(Hex, nullptr, 16));
            S += 2;
            break;
        }
        default:
            R += *S;
        }
    }
    return R;
}

static void WriteAll(int Fd, const std::string& Data) {
    size_t Done = 0;
    while (Done < Data.size()) {
        ssize_t N = write(Fd, Data.data() + Done, Data.size() - Done);
        if (N <= 0)
            std::exit(99);
        Done += size_t(N);
    }
}

int main(int argc, char** argv) {
    int Code = 0;
    for (int I = 1; I < argc; ++I) {
        const std::string A = argv[I];
        if (A.rfind("out:", 0) == 0)
            WriteAll(1, Decode(argv[I] + 4));
        else if (A.rfind("err:", 0) == 0)
            WriteAll(2, Decode(argv[I] + 4));
        else if (A.rfind("sleep:", 0) == 0)
            usleep(useconds_t(std::atoi(argv[I] + 6)) * 1000);
        else if (A.rfind("lines:", 0) == 0) {
            const int N = std::atoi(argv[I] + 6);
            std::string Block;
            for (int L = 1; L <= N; ++L) {
                Block += "line " + std::to_string(L) + "\n";
                if (Block.size() > 8192) {
                    WriteAll(1, Block);
                    Block.clear();
                }
            }
            WriteAll(1, Block);
        } else if (A == "pwd") {
            char Buf[4096];
            if (getcwd(Buf, sizeof Buf))
                WriteAll(1, std::string(Buf) + "\n");
        } else if (A == "hang") {
            for (;;)
                pause();
        } else if (A.rfind("exit:", 0) == 0)
            Code = std::atoi(argv[I] + 5);
    }
    return Code;
}
