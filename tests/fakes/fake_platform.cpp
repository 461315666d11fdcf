#include "fakes/fake_platform.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <initializer_list>
#include <stdexcept>

#include "support/test_bytes.h"

namespace tamsel::fakes {

std::uint64_t filetime_from_unix(std::int64_t unix_seconds) {
    const std::int64_t ticks = unix_seconds * 10'000'000 + 116'444'736'000'000'000;
    return ticks < 0 ? 0 : static_cast<std::uint64_t>(ticks);
}

Sha256Digest FakeCrypto::digest_of(std::string_view bytes) {
    // Four FNV-1a lanes with different seeds, spread over 32 bytes.
    Sha256Digest digest{};
    for (std::size_t lane = 0; lane < 4; ++lane) {
        std::uint64_t h = 0xcbf29ce484222325ull ^ (lane * 0x9E3779B97F4A7C15ull);
        for (const char c : bytes) {
            h ^= static_cast<unsigned char>(c);
            h *= 0x100000001b3ull;
        }
        h ^= bytes.size();
        for (std::size_t i = 0; i < 8; ++i) digest[lane * 8 + i] = static_cast<std::uint8_t>(h >> (8 * i));
    }
    return digest;
}

EcdsaSignature FakeCrypto::sign(const EcPublicKeyBytes& key, std::string_view document) {
    const Sha256Digest digest = digest_of(document);
    EcdsaSignature signature{};
    for (std::size_t i = 0; i < signature.size(); ++i) {
        signature[i] = static_cast<std::uint8_t>(digest[i % digest.size()] ^ key[i] ^ 0x5A);
    }
    valid_.insert({key, digest, signature});
    return signature;
}

class FakeDigester final : public Sha256Digester {
public:
    explicit FakeDigester(FakeCrypto& owner) : owner_(owner) { ++owner_.open_handles; }
    ~FakeDigester() override { --owner_.open_handles; }
    bool add(const void* data, std::size_t size) override {
        if (owner_.fault("crypto.add") || owner_.fail_add || finished_) return false;
        bytes_.append(static_cast<const char*>(data), size);
        owner_.hashed.append(static_cast<const char*>(data), size);
        return true;
    }
    std::optional<Sha256Digest> finish() override {
        if (owner_.fault("crypto.finish") || owner_.fail_finish || finished_) return std::nullopt;
        finished_ = true;
        return FakeCrypto::digest_of(bytes_);
    }

private:
    FakeCrypto& owner_;
    std::string bytes_;
    bool finished_ = false;
};

class FakeEcdsa final : public EcdsaP256Verifier {
public:
    explicit FakeEcdsa(FakeCrypto& owner) : owner_(owner) { ++owner_.open_handles; }
    ~FakeEcdsa() override { --owner_.open_handles; }
    bool verify(const EcPublicKeyBytes& key, const Sha256Digest& digest, const EcdsaSignature& signature) override {
        owner_.keys_tried.push_back(key);
        if (owner_.fault("crypto.verify") || owner_.failing_imports.count(key) != 0) return false;
        return owner_.valid_.count({key, digest, signature}) != 0;
    }

private:
    FakeCrypto& owner_;
};

std::unique_ptr<Sha256Digester> FakeCrypto::begin_sha256() {
    if (fault("crypto.begin_sha256") || fail_begin) return nullptr;
    return std::make_unique<FakeDigester>(*this);
}

std::unique_ptr<EcdsaP256Verifier> FakeCrypto::open_ecdsa_p256() {
    if (fault("crypto.open_ecdsa") || fail_open_ecdsa) return nullptr;
    return std::make_unique<FakeEcdsa>(*this);
}

class FakeFileHandle final : public FileHandle {
public:
    FakeFileHandle(FakeFiles& owner, std::string path, bool append)
        : owner_(owner), path_(std::move(path)), append_(append) {}

    Result<std::size_t> write(const void* data, std::size_t size) override {
        if (owner_.fault("files.write " + path_)) return owner_.injected();
        owner_.change();
        if (!append_) owner_.unflushed_.insert(path_);
        if (owner_.zero_write) return std::size_t{0};
        std::size_t n = std::min(size, owner_.max_write_chunk);
        if (owner_.fail_write_after) {
            if (owner_.bytes_written_ >= *owner_.fail_write_after) return Failure{};
            n = std::min(n, *owner_.fail_write_after - owner_.bytes_written_);
        }
        auto& content = owner_.files[path_];
        const char* bytes = static_cast<const char*>(data);
        if (append_) {
            content.append(bytes, n);
        } else {
            if (content.size() < position_ + n) content.resize(position_ + n);
            std::memcpy(content.data() + position_, bytes, n);
            position_ += n;
        }
        owner_.bytes_written_ += n;
        return n;
    }

    Result<std::size_t> read(void* buffer, std::size_t size) override {
        if (owner_.fault("files.read " + path_)) return owner_.injected();
        const auto it = owner_.files.find(path_);
        if (it == owner_.files.end()) return Failure{};
        if (owner_.fail_read_after && owner_.bytes_read_ >= *owner_.fail_read_after) return Failure{};
        const std::string& content = it->second;
        const std::size_t n = std::min(size, content.size() - std::min(position_, content.size()));
        std::memcpy(buffer, content.data() + position_, n);
        position_ += n;
        owner_.bytes_read_ += n;
        return n;
    }

    Result<void> flush() override {
        if (owner_.fault("files.flush " + path_)) return owner_.injected();
        owner_.change();
        owner_.journal.push_back("flush " + path_);
        if (owner_.fail_flush) return Failure{};
        owner_.flushed_[path_] = owner_.files[path_];
        owner_.unflushed_.erase(path_);
        return {};
    }

private:
    FakeFiles& owner_;
    std::string path_;
    bool append_;
    std::size_t position_ = 0;
};

bool FakeFiles::folder_of_exists(const std::string& path) const {
    const auto cut = path.find_last_of("\\/");
    return cut == std::string::npos || folders.count(path.substr(0, cut)) != 0;
}

void FakeFiles::change() {
    if (crash_after && changes >= *crash_after) {
        if (lose_unflushed_on_crash)
            for (const auto& [path, content] : torn_)
                if (files.count(path)) files[path] = content;
        throw PowerCut{};
    }
    ++changes;
}

FileResult FakeFiles::open_append(const std::string& path) {
    if (fault("files.open_append " + path)) return injected();
    if (fail_open_append || !folder_of_exists(path)) return Failure{};
    change();
    files.try_emplace(path);
    return std::make_unique<FakeFileHandle>(*this, path, true);
}

FileResult FakeFiles::create_truncate(const std::string& path) {
    if (fault("files.create " + path)) return injected();
    if (fail_create || fail_create_paths.count(path) || !folder_of_exists(path)) return Failure{};
    change();
    journal.push_back("create " + path);
    files[path].clear();
    flushed_[path].clear();
    unflushed_.insert(path);
    return std::make_unique<FakeFileHandle>(*this, path, false);
}

FileResult FakeFiles::open_read(const std::string& path) {
    if (fault("files.open_read " + path)) return injected();
    if (!exists(path)) return std::unique_ptr<FileHandle>();
    if (fail_open_read) return Failure{};
    return std::make_unique<FakeFileHandle>(*this, path, false);
}

Result<std::uint64_t> FakeFiles::size(const std::string& path) {
    if (fault("files.size " + path)) return injected();
    const auto it = files.find(path);
    if (fail_size || it == files.end()) return Failure{};
    return std::uint64_t{it->second.size()};
}

Result<void> FakeFiles::replace_file(const std::string& from, const std::string& to) {
    if (fault("files.replace " + from + " -> " + to)) return injected();
    change();
    journal.push_back("replace " + from + " " + to);
    const auto it = files.find(from);
    if (fail_replace || it == files.end()) return Failure{};
    // The move itself is written through; bytes not flushed before it are not.
    if (unflushed_.count(from)) {
        torn_[to] = flushed_[from];
    } else {
        torn_.erase(to);
    }
    unflushed_.erase(from);
    files[to] = std::move(it->second);
    files.erase(from);
    return {};
}

Result<void> FakeFiles::remove(const std::string& path) {
    if (fault("files.remove " + path)) return injected();
    change();
    journal.push_back("remove " + path);
    if (fail_remove || fail_remove_paths.count(path)) return Failure{};
    torn_.erase(path);
    unflushed_.erase(path);
    if (files.erase(path) == 0) return Failure{};
    return {};
}

std::uint32_t FakeFiles::attributes(const std::string& path) {
    if (fault("files.attributes " + path)) return invalid_file_attributes;
    if (folder_links.count(path) != 0) return 0x410;
    if (folders.count(path) != 0) return 0x10;
    if (files.count(path) != 0) return 0x80;
    return invalid_file_attributes;
}

// Lets go of its entry in a set when destroyed, as the system lets go of a
// handle's hold.
class FakeHold final : public FileHandle, public HeldObject {
public:
    FakeHold(std::set<std::string>& held, std::string key) : held_(held), key_(std::move(key)) { held_.insert(key_); }
    ~FakeHold() override { held_.erase(key_); }
    Result<std::size_t> write(const void*, std::size_t) override { return Failure{}; }
    Result<std::size_t> read(void*, std::size_t) override { return Failure{}; }
    Result<void> flush() override { return Failure{}; }

private:
    std::set<std::string>& held_;
    std::string key_;
};

FileResult FakeFiles::open_exclusive(const std::string& path) {
    if (fault("files.open_exclusive " + path)) return injected();
    if (fail_open_exclusive || !folder_of_exists(path) || locked.count(path) != 0) return Failure{};
    if (held_elsewhere && held_elsewhere(path)) return Failure{};
    if (!exists(path)) {
        change();
        journal.push_back("create " + path);
        files[path];
    }
    return std::make_unique<FakeHold>(locked, path);
}

Result<std::vector<std::string>> FakeFiles::list(const std::string& folder) {
    if (fault("files.list " + folder) || folders.count(folder) == 0) return injected();
    std::set<std::string> names;
    const std::string prefix = folder + "\\";
    for (const auto* set : {&folders, &folder_links}) {
        for (const auto& path : *set)
            if (path.starts_with(prefix) && path.find('\\', prefix.size()) == std::string::npos)
                names.insert(path.substr(prefix.size()));
    }
    for (const auto& [path, content] : files)
        if (path.starts_with(prefix) && path.find('\\', prefix.size()) == std::string::npos)
            names.insert(path.substr(prefix.size()));
    return std::vector<std::string>(names.begin(), names.end());
}

Result<void> FakeFiles::move(const std::string& from, const std::string& to) {
    if (fault("files.move " + from + " -> " + to)) return injected();
    journal.push_back("move " + from + " " + to);
    if (fail_move_paths.count(from) || attributes(to) != invalid_file_attributes ||
        attributes(from) == invalid_file_attributes || !folder_of_exists(to))
        return injected();
    auto rename = [&](const std::string& path) {
        return path == from || path.starts_with(from + "\\") ? to + path.substr(from.size()) : path;
    };
    for (auto* set : {&folders, &folder_links}) {
        std::set<std::string> moved;
        for (const auto& path : *set) moved.insert(rename(path));
        *set = std::move(moved);
    }
    std::map<std::string, std::string> moved;
    for (auto& [path, content] : files) moved[rename(path)] = std::move(content);
    files = std::move(moved);
    return {};
}

bool FakeAccount::is_well_known(const Sid& sid, WellKnownSid which) {
    if (fault("account.is_well_known " + std::string(sid.begin(), sid.end()) + " " +
              std::to_string(static_cast<int>(which))))
        return false;
    switch (which) {
    case WellKnownSid::local_system: return sid == system_sid();
    case WellKnownSid::administrators: return sid == admins_sid();
    case WellKnownSid::creator_owner: return sid == creator_owner_sid();
    case WellKnownSid::trusted_installer: return sid == trusted_installer_sid();
    }
    return false;
}

Result<OwnerAndDacl> FakeSecurity::owner_and_dacl(const std::string& path) {
    if (fault("security.descriptor " + path)) return Failure{error};
    const auto it = descriptors.find(path);
    if (it == descriptors.end()) return Failure{error};
    return it->second;
}

OwnerAndDacl FakeSecurity::kit() {
    OwnerAndDacl descriptor;
    descriptor.owner = FakeAccount::admins_sid();
    descriptor.entries.push_back({0, 0x1F01FF, FakeAccount::system_sid()});
    descriptor.entries.push_back({0, 0x1F01FF, FakeAccount::admins_sid()});
    return descriptor;
}

Result<FolderCreation> FakeSecurity::create_protected_folder(const std::string& path) {
    if (fault("security.create_folder " + path)) return Failure{error};
    if (files->attributes(path) != invalid_file_attributes) return FolderCreation::exists;
    const auto cut = path.find_last_of('\\');
    if (cut != std::string::npos && files->folders.count(path.substr(0, cut)) == 0) return Failure{error};
    journal.push_back("create-folder " + path);
    files->folders.insert(path);
    descriptors[path] = kit();
    return FolderCreation::created;
}

class FakeSecuredEntry final : public SecuredEntry {
public:
    FakeSecuredEntry(FakeSecurity& security, std::string path) : security_(security), path_(std::move(path)) {}
    std::uint32_t attributes() override { return security_.files->attributes(path_); }
    std::optional<OwnerAndDacl> owner_and_dacl() override {
        if (const auto found = security_.descriptors.find(path_); found != security_.descriptors.end())
            return found->second;
        if (!security_.files->exists(path_)) return std::nullopt;
        OwnerAndDacl written = FakeSecurity::kit();
        written.owner = FakeAccount::system_sid();
        return written;
    }
    Result<void> protect() override {
        security_.journal.push_back("protect " + path_);
        if (security_.fail_protect.count(path_)) return Failure{security_.error};
        security_.descriptors[path_] = FakeSecurity::kit();
        return {};
    }

private:
    FakeSecurity& security_;
    std::string path_;
};

Result<std::unique_ptr<SecuredEntry>> FakeSecurity::open_entry(const std::string& path) {
    if (fault("security.open_entry " + path) || files->attributes(path) == invalid_file_attributes)
        return Failure{error};
    return std::unique_ptr<SecuredEntry>(std::make_unique<FakeSecuredEntry>(*this, path));
}

PrivateMutex FakeSystem::take_private_mutex(const std::string& namespace_name, const std::string& mutex_name,
                                            std::unique_ptr<HeldObject>& held) {
    held.reset();
    if (fault("system.private_mutex") || !private_namespaces) return PrivateMutex::unavailable;
    const std::string key = namespace_name + "\\" + mutex_name;
    if (private_mutexes.count(key) != 0) return PrivateMutex::busy;
    held = std::make_unique<FakeHold>(private_mutexes, key);
    return PrivateMutex::taken;
}

MutexCreation FakeSystem::create_owned_mutex(const std::string& name) {
    if (fault("system.create_mutex")) return MutexCreation::failed;
    if (fail_mutex) return MutexCreation::failed;
    if (mutexes.count(name) != 0) return MutexCreation::already_exists;
    mutexes.insert(name);
    created_mutexes.push_back(name);
    return MutexCreation::created;
}

std::optional<std::vector<std::uint8_t>> FakeSystem::file_version_info(const std::string& path) {
    if (fault("system.version_info " + path)) return std::nullopt;
    const auto it = version_infos.find(path);
    if (it == version_infos.end()) return std::nullopt;
    return it->second;
}

FakeHttpsResponse FakeHttpsResponse::body(const std::string& body, std::size_t chunk_size) {
    FakeHttpsResponse response;
    for (std::size_t at = 0; at < body.size(); at += chunk_size) response.chunks.push_back(body.substr(at, chunk_size));
    return response;
}

Result<std::uint64_t> FakeHttps::https_get(const HttpsRequest& request, const BodySink& sink) {
    const std::string address = "https://" + request.host + request.path;
    if (fault("https.get " + address)) return injected();
    requests.push_back(request);
    FakeHttpsResponse not_found;
    not_found.status = 404;
    const auto it = responses.find("https://" + request.host + request.path);
    const FakeHttpsResponse& response = it == responses.end() ? not_found : it->second;
    if (response.no_connection) return Failure{response.error};
    if (response.status != request.expected_status) return Failure{response.status};
    std::uint64_t count = 0;
    for (std::size_t i = 0; i < response.chunks.size(); ++i) {
        if (response.fail_after_chunks && i >= *response.fail_after_chunks) return Failure{response.error};
        if (fault("https.chunk " + address)) return injected();  // the connection broke
        const std::string& chunk = response.chunks[i];
        ++chunks_read;
        count += chunk.size();
        if (count > sink.limit) return Failure{};
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(chunk.data());
        if (!sink.write || !sink.write(std::span<const std::uint8_t>(bytes, chunk.size()))) return Failure{};
    }
    // A break due after the last chunk replaces the clean end of the body.
    if (response.fail_after_chunks) return Failure{response.error};
    return count;
}

Result<std::uint32_t> FakeHttps::https_get_status(const HttpsRequest& request) {
    const std::string address = "https://" + request.host + request.path;
    if (fault("https.get_status " + address)) return injected();
    requests.push_back(request);
    const auto it = responses.find(address);
    if (it == responses.end()) return 404u;
    if (it->second.no_connection) return Failure{it->second.error};
    return it->second.status;
}

FakePlatform::FakePlatform() {
    for (FaultPoint* point : std::initializer_list<FaultPoint*>{&account, &clock, &crypto, &files, &https, &security,
                                                                &system, &processes, &desktop, &event_log})
        point->faults = &faults;
    security.files = &files;
}

void FakePlatform::add_guarded_folder(const std::string& path) {
    files.folders.insert(path);
    OwnerAndDacl descriptor;
    descriptor.owner = FakeAccount::system_sid();
    descriptor.entries.push_back({0, 0x1F01FF, FakeAccount::system_sid()});
    descriptor.entries.push_back({0, 0x1F01FF, FakeAccount::admins_sid()});
    descriptor.entries.push_back({0, 0x1200A9, FakeAccount::user_sid()});
    security.descriptors[path] = descriptor;
}

}  // namespace tamsel::fakes

namespace tamsel::fakes {

class FakeToken final : public Token {
public:
    FakeToken(FakeProcesses& owner, std::string kind) : owner_(owner), kind(std::move(kind)) { ++owner_.open_handles; }
    ~FakeToken() override { --owner_.open_handles; }
    FakeProcesses& owner_;
    std::string kind;
};

// Read whole, however long the path.
std::optional<ProcessImage> image_of(const FakeProcess& process) {
    if (!process.path) return std::nullopt;
    return ProcessImage{*process.path, process.nt_path.value_or(nt_form(*process.path))};
}

class FakeProcessHandle final : public ProcessHandle {
public:
    FakeProcessHandle(FakeProcesses& owner, std::uint32_t process_id) : owner_(owner), id_(process_id) {
        ++owner_.open_handles;
    }
    ~FakeProcessHandle() override { --owner_.open_handles; }

    WaitResult wait(std::uint32_t milliseconds) override {
        owner_.waits_ms.push_back(milliseconds);
        if (owner_.fault("processes.wait") || owner_.fail_wait) return WaitResult::failed;
        const FakeProcess& process = *owner_.find(id_);
        const std::uint64_t now = owner_.clock_.monotonic;
        if (!owner_.alive(process)) return WaitResult::ended;
        if (process.ends_at && *process.ends_at - now <= milliseconds) {
            owner_.clock_.advance_ms(*process.ends_at - now);
            return WaitResult::ended;
        }
        owner_.clock_.advance_ms(milliseconds);
        return WaitResult::timed_out;
    }
    std::optional<std::uint32_t> exit_code() override {
        if (owner_.fault("processes.exit_code") || owner_.fail_exit_code) return std::nullopt;
        const FakeProcess& process = *owner_.find(id_);
        return owner_.alive(process) ? 259u : process.exit_code.value_or(0);  // 259: STILL_ACTIVE
    }

private:
    FakeProcesses& owner_;
    std::uint32_t id_;
};

// Pinned to the table entry it was opened on: a later process with the same
// id is another entry.
class FakeOpenedProcess final : public OpenedProcess {
public:
    FakeOpenedProcess(FakeProcesses& owner, std::size_t index) : owner_(owner), index_(index) {
        ++owner_.open_handles;
    }
    ~FakeOpenedProcess() override { --owner_.open_handles; }

    std::optional<ProcessImage> image() override {
        const FakeProcess& process = owner_.table[index_];
        if (owner_.fault("processes.opened_image " + std::to_string(process.session_id))) return std::nullopt;
        return image_of(process);  // an ended process can still be queried through its handle
    }
    bool terminate(std::uint32_t exit_code) override {
        if (owner_.fault("processes.terminate")) return false;
        FakeProcess& process = owner_.table[index_];
        if (!owner_.alive(process)) return false;
        owner_.terminated.push_back(process.process_id);
        if (process.survives_terminate) return true;
        process.ends_at = owner_.clock_.monotonic;
        process.exit_code = exit_code;
        return true;
    }

private:
    FakeProcesses& owner_;
    std::size_t index_;
};

std::string nt_form(const std::string& path) {
    if (path.size() >= 3 && path[1] == ':' && path[2] == '\\')
        return "\\Device\\HarddiskVolume" +
               std::to_string(std::toupper(static_cast<unsigned char>(path[0])) - 'A' + 1) + path.substr(2);
    if (path.starts_with("\\\\?\\UNC\\")) return "\\Device\\Mup" + path.substr(7);
    if (path.starts_with("\\\\") && !path.starts_with("\\\\?\\") && !path.starts_with("\\\\.\\"))
        return "\\Device\\Mup" + path.substr(1);
    return path;
}

std::uint32_t FakeProcesses::run_program(const std::string& path, std::uint32_t session, std::string name) {
    FakeProcess process;
    process.process_id = next_id_++;
    process.session_id = session;
    process.name = std::move(name);
    process.path = path;
    table.push_back(process);
    return process.process_id;
}

bool FakeProcesses::alive(const FakeProcess& process) const {
    return !process.ends_at || clock_.monotonic < *process.ends_at;
}

FakeProcess* FakeProcesses::find(std::uint32_t process_id) {
    for (FakeProcess& process : table)
        if (process.process_id == process_id) return &process;
    return nullptr;
}

FakeProcess* FakeProcesses::find_alive(std::uint32_t process_id) {
    for (FakeProcess& process : table)
        if (process.process_id == process_id && alive(process)) return &process;
    return nullptr;
}

std::vector<FakeLaunch> FakeProcesses::launches_ending(std::string_view suffix) const {
    std::vector<FakeLaunch> found;
    for (const FakeLaunch& launch : launches)
        if (launch.command_line.size() >= suffix.size() &&
            launch.command_line.compare(launch.command_line.size() - suffix.size(), suffix.size(), suffix) == 0)
            found.push_back(launch);
    return found;
}

Result<std::vector<ProcessEntry>> FakeProcesses::enumerate() {
    ++enumerations;
    if (fault("processes.enumerate")) return injected();
    if (fail_enumerate) return Failure{};
    std::vector<ProcessEntry> entries;
    for (const FakeProcess& process : table)
        if (alive(process)) entries.push_back({process.session_id, process.process_id, process.name});
    return entries;
}

std::optional<ProcessImage> FakeProcesses::image(std::uint32_t process_id) {
    const FakeProcess* process = find_alive(process_id);
    if (fault("processes.image_path " + (process ? std::to_string(process->session_id) : std::string("?"))))
        return std::nullopt;
    if (!process) return std::nullopt;
    return image_of(*process);
}

std::optional<std::string> FakeProcesses::final_nt_path(const std::string& path) {
    opened_paths.push_back(path);
    const bool drive_letter = path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
                              path[2] == '\\';
    if (!drive_letter) throw std::logic_error("opened as the system account: " + path);
    if (fault("processes.final_path")) return std::nullopt;
    const auto found = final_paths.find(path);
    if (found == final_paths.end()) return std::nullopt;
    return found->second;
}

std::unique_ptr<OpenedProcess> FakeProcesses::open_process(std::uint32_t process_id) {
    if (before_open) before_open(process_id);
    const FakeProcess* process = find_alive(process_id);
    if (fault("processes.open " + (process ? std::to_string(process->session_id) : std::string("?")))) return nullptr;
    // A process without a readable path is one that cannot be opened.
    if (!process || !process->path) return nullptr;
    return std::make_unique<FakeOpenedProcess>(*this, static_cast<std::size_t>(process - table.data()));
}

std::unique_ptr<Token> FakeProcesses::duplicate_own_token() {
    if (fault("processes.duplicate_token") || fail_duplicate) return nullptr;
    return std::make_unique<FakeToken>(*this, "own:0");
}

bool FakeProcesses::set_token_session(Token& token, std::uint32_t session_id) {
    if (fault("processes.set_session " + std::to_string(session_id)) || fail_set_session) return false;
    static_cast<FakeToken&>(token).kind = "own:" + std::to_string(session_id);
    return true;
}

std::unique_ptr<Token> FakeProcesses::user_token(std::uint32_t session_id) {
    if (fault("processes.user_token " + std::to_string(session_id)) || !logged_on.count(session_id)) return nullptr;
    return std::make_unique<FakeToken>(*this, "user:" + std::to_string(session_id));
}

Result<std::unique_ptr<ProcessHandle>> FakeProcesses::launch(std::string token, const std::string& application,
                                                             const std::string& command_line, std::string environment) {
    if (fault("processes.start [" + token + "] " + command_line)) return injected();
    FakeLaunch launch{std::move(token), application, command_line, clock_.monotonic, std::move(environment)};
    launches.push_back(launch);
    const FakeStartResult result = on_start ? on_start(launch) : FakeStartResult{};
    if (!result.created) return Failure{};
    FakeProcess process;
    process.process_id = next_id_++;
    process.name = application.substr(application.find_last_of('\\') + 1);
    process.path = application;
    process.session_id = 0;
    if (result.runs_ms) process.ends_at = clock_.monotonic + *result.runs_ms;
    process.exit_code = result.exit_code;
    table.push_back(process);
    return std::make_unique<FakeProcessHandle>(*this, process.process_id);
}

// Open until freed, like a token; it remembers the token it was made from.
class FakeEnvironmentBlock final : public EnvironmentBlock {
public:
    FakeEnvironmentBlock(FakeProcesses& owner, std::string from) : owner_(owner), from(std::move(from)) {
        ++owner_.open_handles;
    }
    ~FakeEnvironmentBlock() override { --owner_.open_handles; }
    FakeProcesses& owner_;
    std::string from;
};

std::unique_ptr<EnvironmentBlock> FakeProcesses::user_environment(Token& token) {
    const std::string& kind = static_cast<FakeToken&>(token).kind;
    if (fault("processes.environment " + kind) || fail_environment) return nullptr;
    return std::make_unique<FakeEnvironmentBlock>(*this, kind);
}

std::unique_ptr<ProcessHandle> FakeProcesses::start_as_user(Token& token, const std::string& application,
                                                            const std::string& command_line,
                                                            const EnvironmentBlock* environment) {
    return launch(static_cast<FakeToken&>(token).kind, application, command_line,
                  environment ? static_cast<const FakeEnvironmentBlock*>(environment)->from : std::string())
            .value_or(nullptr);
}

Result<std::unique_ptr<ProcessHandle>> FakeProcesses::start(const std::string& application,
                                                            const std::string& command_line) {
    return launch("", application, command_line);
}

WindowId FakeDesktop::add_window(std::uint64_t appears_after, std::optional<std::uint64_t> dies_after,
                                 std::string class_name, std::uint32_t process_id) {
    FakeWindow window;
    window.id = 0x1000 + windows.size() * 0x10;
    window.class_name = std::move(class_name);
    window.process_id = process_id;
    window.appears_at = clock_.monotonic + appears_after;
    if (dies_after) window.dies_at = clock_.monotonic + *dies_after;
    windows.push_back(window);
    return window.id;
}

bool FakeDesktop::alive(const FakeWindow& window) const {
    return clock_.monotonic >= window.appears_at && (!window.dies_at || clock_.monotonic < *window.dies_at);
}

std::vector<WindowId> FakeDesktop::find_windows(const std::string& class_name) {
    if (fault("desktop.find_windows")) return {};
    looks.push_back(clock_.monotonic);
    std::vector<WindowId> found;
    for (const FakeWindow& window : windows)
        if (window.class_name == class_name && alive(window)) found.push_back(window.id);
    return found;
}

std::optional<std::uint32_t> FakeDesktop::window_process(WindowId id) {
    if (fault("desktop.window_process")) return std::nullopt;
    for (const FakeWindow& window : windows)
        if (window.id == id && alive(window) && window.process_id != 0) return window.process_id;
    return std::nullopt;
}

bool FakeDesktop::post_end_session(WindowId window) {
    if (fault("desktop.post") || fail_post) return false;
    posted.push_back(window);
    return true;
}

bool FakeDesktop::is_window(WindowId id) {
    if (fault("desktop.is_window")) return false;
    for (const FakeWindow& window : windows)
        if (window.id == id) return alive(window);
    return false;
}

}  // namespace tamsel::fakes

namespace tamsel::fakes {

std::vector<std::string> log_messages(const FakeFiles& files, const std::string& log_path) {
    std::vector<std::string> out;
    const auto it = files.files.find(log_path);
    if (it == files.files.end()) return out;
    const std::string& text = it->second;
    const std::size_t stamp = std::string_view("2026-12-08T00:00:00Z ").size();
    for (std::size_t start = 0; start < text.size();) {
        const auto end = text.find("\r\n", start);
        out.push_back(text.substr(start + stamp, end - start - stamp));
        start = end + 2;
    }
    return out;
}

}  // namespace tamsel::fakes

namespace tamsel::fakes {

std::string signature_line(FakeCrypto& crypto, const EcPublicKeyBytes& key, std::string_view document) {
    return "signature = \"" + test_support::base64(crypto.sign(key, document)) + "\"\n";
}

std::string signed_answer(FakeCrypto& crypto, const EcPublicKeyBytes& key, std::string_view document) {
    return signature_line(crypto, key, document) + std::string(document);
}

}  // namespace tamsel::fakes
