// A stand-in for the converter in the tests. Its behaviour follows the first word of
// its input file:
//   WRITE  - writes <input without ".wav">.qcp holding "QCP:" and the input's bytes
//   SLOW   - the same after 1500 ms, so the caller's wait runs more than one slice
//   NOTHING - writes nothing, like a converter that rejects the file
//   anything else, or no readable input - exits at once
// When STANDIN_ARGS is set it names a file that receives each argument on a line.
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    if (const char* record = std::getenv("STANDIN_ARGS")) {
        std::ofstream out(record, std::ios::binary);
        for (int i = 1; i < argc; ++i)
            out << argv[i] << '\n';
    }
    if (argc < 2)
        return 2;
    const std::string input = argv[1];
    std::ifstream in(input, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const bool slow = bytes.rfind("SLOW", 0) == 0;
    if (bytes.rfind("WRITE", 0) != 0 && !slow)
        return bytes.rfind("NOTHING", 0) == 0 ? 0 : 1;
    if (slow)
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const std::string::size_type dot = input.rfind('.');
    std::ofstream out(input.substr(0, dot) + ".qcp", std::ios::binary);
    out << "QCP:" << bytes;
    return 0;
}
