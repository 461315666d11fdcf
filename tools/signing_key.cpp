// OpenSSL 3 deprecates the ENGINE interface, but Debian's maintained PKCS#11
// bridge for it (libp11's pkcs11 engine) is an engine; the provider that
// replaces it is not in Debian 12.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "tools/signing_key.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include <openssl/engine.h>
#include <openssl/err.h>
#include <openssl/ui.h>

namespace tamsel::tool {
namespace {

std::optional<std::string> read_whole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

// The engine stays loaded for the life of the process: the keys it hands
// out sign through it.
ENGINE* pkcs11_engine(const std::string& module, std::string& why) {
    static ENGINE* engine = nullptr;
    if (engine != nullptr) return engine;
    ENGINE_load_builtin_engines();
    ENGINE* loaded = ENGINE_by_id("pkcs11");
    if (loaded == nullptr) {
        why = "OpenSSL's pkcs11 engine is not installed (Debian: libengine-pkcs11-openssl)";
        return nullptr;
    }
    if ((!module.empty() && ENGINE_ctrl_cmd_string(loaded, "MODULE_PATH", module.c_str(), 0) != 1) ||
        ENGINE_init(loaded) != 1) {
        why = "the pkcs11 engine could not load the PKCS#11 module" + (module.empty() ? "" : " " + module);
        ENGINE_free(loaded);
        return nullptr;
    }
    engine = loaded;
    return engine;
}

// Splits the RFC 7512 query attribute module-path off the URI: the engine
// takes the module by a control command, not from the URI. Without it the
// engine's default (p11-kit's proxy, which loads every registered module)
// is used.
std::string take_module_path(std::string& uri) {
    const std::size_t query = uri.find('?');
    if (query == std::string::npos) return {};
    std::string module;
    std::string kept;
    std::istringstream attributes(uri.substr(query + 1));
    for (std::string attribute; std::getline(attributes, attribute, '&');) {
        if (attribute.starts_with("module-path=")) {
            module = attribute.substr(12);
        } else {
            kept += (kept.empty() ? "" : "&") + attribute;
        }
    }
    uri = uri.substr(0, query) + (kept.empty() ? "" : "?" + kept);
    return module;
}

}  // namespace

std::optional<std::string> read_secret(const SecretSource& source, std::string& why) {
    std::string secret;
    if (source.file) {
        // As ssh treats a private key file: one that others may read is no
        // secret any more, so it is refused rather than used.
        struct stat status {};
        if (::stat(source.file->c_str(), &status) == 0 && (status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
            why = *source.file + " is open to group or others; make it private (chmod 600 " + *source.file + ")";
            return std::nullopt;
        }
        const auto content = read_whole(*source.file);
        if (!content) {
            why = "cannot read " + *source.file;
            return std::nullopt;
        }
        secret = content->substr(0, content->find('\n'));
        if (!secret.empty() && secret.back() == '\r') secret.pop_back();
    } else if (source.environment) {
        const char* value = std::getenv(source.environment->c_str());
        if (value == nullptr) {
            why = "the environment variable " + *source.environment + " is not set";
            return std::nullopt;
        }
        secret = value;
    } else {
        why = "give --passphrase-file or --passphrase-env";
        return std::nullopt;
    }
    if (secret.empty()) {
        why = "the passphrase is empty";
        return std::nullopt;
    }
    return secret;
}

bool is_pkcs11_uri(const std::string& argument) { return argument.starts_with("pkcs11:"); }

std::optional<Pkey> load_signing_key(const std::string& argument, const SecretSource& source, std::string& why) {
    const bool secret_given = source.file || source.environment;
    std::optional<std::string> secret;
    if (secret_given) {
        secret = read_secret(source, why);
        if (!secret) return std::nullopt;
    }
    if (!is_pkcs11_uri(argument)) {
        const auto pem = read_whole(argument);
        if (!pem) {
            why = "cannot read the key file";
            return std::nullopt;
        }
        return read_private_key_pem(*pem, why, secret);
    }
    std::string uri = argument;
    const std::string module = take_module_path(uri);
    ENGINE* engine = pkcs11_engine(module, why);
    if (engine == nullptr) return std::nullopt;
    if (secret && ENGINE_ctrl_cmd_string(engine, "PIN", secret->c_str(), 0) != 1) {
        why = "the pkcs11 engine refused the PIN";
        return std::nullopt;
    }
    // A user interface that answers nothing: a token that wants a PIN we were
    // not given fails instead of asking on the terminal.
    Pkey key(ENGINE_load_private_key(engine, uri.c_str(), const_cast<UI_METHOD*>(UI_null()), nullptr));
    ERR_clear_error();
    if (!key) {
        why = secret ? "no private key at this URI, or the PIN is wrong"
                     : "no private key at this URI (if the token needs a PIN, give --passphrase-file or "
                       "--passphrase-env)";
        return std::nullopt;
    }
    if (!public_key_bytes(key.get())) {
        why = "not a P-256 key";
        return std::nullopt;
    }
    return key;
}

}  // namespace tamsel::tool
