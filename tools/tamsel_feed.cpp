// tamsel-feed: the vendor's tool for the update feed.
//
//   tamsel-feed keygen <private.pem>
//       Makes a P-256 key, writes it as PEM (never over an existing file) and
//       prints the public key as the 128 hex digits the updater's build takes.
//   tamsel-feed sign <private.pem> <document> <answer-out>
//       Writes the feed answer: the signature line, a line feed, then the
//       document's bytes exactly as they are.
//   tamsel-feed verify <answer> <working-key> <reserve-key>
//       Says which key verifies the answer, splitting it with the updater's
//       own code. Keys are 128 hex digits, or files with them or with a PEM key.
//
// Exit codes: 0 done (verify: a key verified), 1 verify: refused or not
// verified, 2 wrong usage or a file that cannot be read or written.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <variant>

#include "feed/signature.h"
#include "tools/feed_tool.h"

namespace {

using namespace tamsel::tool;

constexpr std::size_t feed_answer_limit = 262144;  // what the updater accepts

int usage() {
    std::cerr << "usage: tamsel-feed keygen <private.pem>\n"
                 "       tamsel-feed sign <private.pem> <document> <answer-out>\n"
                 "       tamsel-feed verify <answer> <working-key> <reserve-key>\n";
    return 2;
}

bool read_file(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream content;
    content << in.rdbuf();
    bytes = content.str();
    return !in.bad();
}

bool write_file(const std::string& path, const std::string& bytes, bool exclusive) {
    const int flags = O_WRONLY | O_CREAT | (exclusive ? O_EXCL : O_TRUNC);
    const int fd = ::open(path.c_str(), flags, exclusive ? 0600 : 0644);
    if (fd < 0) return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            ::close(fd);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return ::fsync(fd) == 0 && ::close(fd) == 0;
}

int keygen(const std::string& path) {
    const Pkey key = generate_p256_key();
    const auto public_key = key ? public_key_bytes(key.get()) : std::nullopt;
    const std::string pem = key ? private_key_pem(key.get()) : std::string();
    if (!public_key || pem.empty()) {
        std::cerr << "tamsel-feed: key generation failed\n";
        return 2;
    }
    if (!write_file(path, pem, true)) {
        std::cerr << "tamsel-feed: cannot create " << path << " (it must not exist yet)\n";
        return 2;
    }
    std::cout << to_hex(public_key->data(), public_key->size()) << "\n";
    return 0;
}

int sign(const std::string& key_path, const std::string& document_path, const std::string& answer_path) {
    std::string pem;
    std::string document;
    if (!read_file(key_path, pem)) {
        std::cerr << "tamsel-feed: cannot read " << key_path << "\n";
        return 2;
    }
    if (!read_file(document_path, document)) {
        std::cerr << "tamsel-feed: cannot read " << document_path << "\n";
        return 2;
    }
    std::string why;
    const auto key = read_private_key_pem(pem, why);
    if (!key) {
        std::cerr << "tamsel-feed: " << key_path << ": " << why << "\n";
        return 2;
    }
    const auto signature = sign_document(key->get(), document);
    if (!signature) {
        std::cerr << "tamsel-feed: signing failed\n";
        return 2;
    }
    const std::string answer = feed_answer(*signature, document);
    if (answer.size() > feed_answer_limit) {
        std::cerr << "tamsel-feed: warning: the answer has " << answer.size() << " bytes; the updater takes at most "
                  << feed_answer_limit << "\n";
    }
    if (!write_file(answer_path, answer, false)) {
        std::cerr << "tamsel-feed: cannot write " << answer_path << "\n";
        return 2;
    }
    return 0;
}

std::optional<PublicKey> key_argument(const std::string& argument) {
    std::string text = argument;
    std::string file;
    if (read_file(argument, file)) text = file;
    std::string why;
    const auto key = parse_public_key(text, why);
    if (!key) std::cerr << "tamsel-feed: " << argument << ": " << why << "\n";
    return key;
}

int verify(const std::string& answer_path, const std::string& working_arg, const std::string& reserve_arg) {
    std::string answer;
    if (!read_file(answer_path, answer)) {
        std::cerr << "tamsel-feed: cannot read " << answer_path << "\n";
        return 2;
    }
    const auto working = key_argument(working_arg);
    const auto reserve = key_argument(reserve_arg);
    if (!working || !reserve) return 2;

    const auto split = tamsel::split_feed_answer(answer);
    if (const auto* error = std::get_if<tamsel::FeedError>(&split)) {
        std::cout << tamsel::feed_error_message(*error) << "\n";
        return 1;
    }
    const tamsel::FeedAnswer& parts = std::get<tamsel::FeedAnswer>(split);
    // The updater's order: the working key first, then the reserve key.
    if (verify_document(*working, parts.document, parts.signature)) {
        std::cout << "working\n";
        return 0;
    }
    if (verify_document(*reserve, parts.document, parts.signature)) {
        std::cout << "reserve\n";
        return 0;
    }
    std::cout << tamsel::feed_error_message(tamsel::FeedError::signature) << "\n";
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "keygen" && argc == 3) return keygen(argv[2]);
    if (command == "sign" && argc == 5) return sign(argv[2], argv[3], argv[4]);
    if (command == "verify" && argc == 5) return verify(argv[2], argv[3], argv[4]);
    return usage();
}
