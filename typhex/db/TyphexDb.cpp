// typhex-db: the signature database's compiler and dumper.
//
//   typhex-db build SOURCE OUT   compile a text source into a database file
//   typhex-db dump FILE          print a database file as text source
//
// build then dump gives the source back in its plain form (without
// comments), and dump then build gives the file back byte for byte.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "DatabaseRecords.h"

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path);
    std::ostringstream contents;
    contents << in.rdbuf();
    if (in.bad()) throw std::runtime_error("cannot read " + path);
    return contents.str();
}

void WriteFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) throw std::runtime_error("cannot create " + temporary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            std::remove(temporary.c_str());
            throw std::runtime_error("cannot write " + temporary);
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        throw std::runtime_error("cannot replace " + path);
    }
}

int Usage() {
    std::cerr << "usage: typhex-db build SOURCE OUT\n       typhex-db dump FILE\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const std::string command = argv[1];
    try {
        if (command == "build" && argc == 4) {
            typhexdb::Database database;
            try {
                database = typhexdb::Parse(ReadFile(argv[2]));
            } catch (const std::runtime_error& error) {
                throw std::runtime_error(std::string(argv[2]) + ": " + error.what());
            }
            WriteFileAtomically(argv[3], typhexdb::Encode(database));
            return 0;
        }
        if (command == "dump" && argc == 3) {
            const std::string contents = ReadFile(argv[2]);
            const std::vector<std::uint8_t> bytes(contents.begin(), contents.end());
            std::cout << typhexdb::Print(typhexdb::Decode(bytes));
            return 0;
        }
    } catch (const std::exception& error) {
        std::cerr << "typhex-db: " << error.what() << "\n";
        return 1;
    }
    return Usage();
}
