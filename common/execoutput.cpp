#include "common/execoutput.h"

#include <cstdio>
#include <memory>

namespace {

struct PipeCloser
{
    void operator()(FILE* pipe) const { pclose(pipe); }
};

} // namespace

std::string getExecOutput(std::string command)
{
    std::unique_ptr<FILE, PipeCloser> pipe(popen(command.c_str(), "r"));
    if (!pipe)
        return std::string();
    std::string output;
    char piece[255];
    for (;;) {
        const size_t got = fread(piece, 1, sizeof piece, pipe.get());
        if (got == 0)
            break;
        output.append(piece, got);
    }
    return output;
}
