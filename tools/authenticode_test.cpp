// scripts/sign-windows-binaries.sh with a code-signing certificate of a test
// CA made here: the signatures verify against that CA, not against another,
// and one changed byte of a signed file is caught.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

struct Shell {
    int status;
    std::string output;
};

Shell shell(const std::string& command) {
    FILE* pipe = ::popen(("{ " + command + "; } 2>&1").c_str(), "r");
    std::string output;
    char buffer[512];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

std::string read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

class Authenticode : public ::testing::Test {
protected:
    std::filesystem::path dir;
    std::string script = std::string(TAMSEL_SOURCE_DIR) + "/scripts/sign-windows-binaries.sh";

    void SetUp() override {
        char pattern[] = "/tmp/tamsel-authenticode-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
        ::setenv("TAMSEL_TEST_CODESIGN_PASS", "code signing test passphrase", 1);
        // Two CAs; the code-signing certificate is issued by the first, its
        // key encrypted with the passphrase.
        const std::string pki =
            "cd " + at("") + " && "
            "for ca in ca other-ca; do openssl req -x509 -newkey rsa:2048 -nodes -keyout $ca.key -out $ca.pem "
            "-days 2 -subj \"/CN=Tamsel test $ca\" -addext basicConstraints=critical,CA:TRUE "
            "-addext keyUsage=critical,keyCertSign,cRLSign || exit 1; done && "
            "openssl req -newkey rsa:2048 -keyout codesign.key -passout env:TAMSEL_TEST_CODESIGN_PASS "
            "-out codesign.csr -subj '/CN=Tamsel test code signing' && "
            "printf 'basicConstraints=CA:FALSE\\nkeyUsage=critical,digitalSignature\\nextendedKeyUsage=codeSigning\\n'"
            " > codesign.ext && "
            "openssl x509 -req -in codesign.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 "
            "-extfile codesign.ext -out codesign.pem && "
            "openssl pkcs12 -export -in codesign.pem -inkey codesign.key -passin env:TAMSEL_TEST_CODESIGN_PASS "
            "-passout env:TAMSEL_TEST_CODESIGN_PASS -out codesign.p12 && "
            "printf 'int main(void) { return 0; }\\n' > program.c && "
            "x86_64-w64-mingw32-gcc -O2 -o tamsel-update.exe program.c && "
            "x86_64-w64-mingw32-gcc -O2 -DSETUP -o Tamsel-setup.exe program.c";
        const Shell made = shell(pki);
        ASSERT_EQ(made.status, 0) << made.output;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string at(const std::string& name) const { return (dir / name).string(); }
    Shell verify(const std::string& file, const std::string& ca) {
        return shell("osslsigncode verify -CAfile " + at(ca) + " -in " + at(file));
    }
};

TEST_F(Authenticode, SignedFilesVerifyAndATamperedByteIsCaught) {
    struct Signing {
        const char* name;
        std::string arguments;
        int status;
    };
    const std::string pem = " --cert " + at("codesign.pem") + " --key " + at("codesign.key");
    const std::string files = " " + at("tamsel-update.exe") + " " + at("Tamsel-setup.exe");
    const Signing rows[] = {
        {"wrong passphrase", pem + " --passphrase-env HOME --ca " + at("ca.pem") + files, 1},
        {"no key", " --cert " + at("codesign.pem") + files, 2},
        {"PEM, passphrase from the environment",
         pem + " --passphrase-env TAMSEL_TEST_CODESIGN_PASS --ca " + at("ca.pem") + files, 0},
        {"PKCS#12 again over the signed files", " --pkcs12 " + at("codesign.p12") +
             " --passphrase-env TAMSEL_TEST_CODESIGN_PASS --ca " + at("ca.pem") + files, 0},
    };
    const std::string unsigned_setup = read_bytes(at("Tamsel-setup.exe"));
    for (const Signing& row : rows) {
        const Shell signing = shell("bash " + script + row.arguments);
        EXPECT_EQ(signing.status, row.status) << row.name << ": " << signing.output;
        if (row.status != 0) {
            EXPECT_EQ(read_bytes(at("Tamsel-setup.exe")), unsigned_setup) << row.name << ": left as it was";
            continue;
        }
        for (const char* file : {"tamsel-update.exe", "Tamsel-setup.exe"}) {
            const Shell good = verify(file, "ca.pem");
            EXPECT_EQ(good.status, 0) << row.name << " " << file << ": " << good.output;
            EXPECT_NE(verify(file, "other-ca.pem").status, 0) << row.name << " " << file;
        }
    }

    // One byte of the code changed after signing.
    std::string bytes = read_bytes(at("tamsel-update.exe"));
    ASSERT_GT(bytes.size(), 0x500u);
    bytes[0x480] = static_cast<char>(bytes[0x480] ^ 0x01);
    std::ofstream(at("tampered.exe"), std::ios::binary) << bytes;
    const Shell tampered = verify("tampered.exe", "ca.pem");
    EXPECT_NE(tampered.status, 0) << tampered.output;
}

}  // namespace
