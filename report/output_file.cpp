#include "report/output_file.h"

#include <cstdio>
#include <random>
#include <streambuf>
#include <utility>
#include <vector>

#include "report/output_file_platform.h"

namespace velkaro::report {

// A stream buffer over the native handle; the first failure is kept and later writes dropped.
class OutputFile::Buffer : public std::streambuf {
public:
    explicit Buffer(intptr_t handle) : handle_(handle), data_(1 << 16) {
        setp(data_.data(), data_.data() + data_.size());
    }
    bool drain() {
        const size_t n = static_cast<size_t>(pptr() - pbase());
        if (n != 0 && error_.empty())
            platform::writeOutput(handle_, pbase(), n, error_);
        setp(data_.data(), data_.data() + data_.size());
        return error_.empty();
    }
    const std::string& error() const { return error_; }

protected:
    int_type overflow(int_type c) override {
        if (!drain())
            return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof()))
            sputc(traits_type::to_char_type(c));
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        if (n >= static_cast<std::streamsize>(data_.size())) {
            if (!drain())
                return 0;
            platform::writeOutput(handle_, s, static_cast<size_t>(n), error_);
            return error_.empty() ? n : 0;
        }
        return std::streambuf::xsputn(s, n);
    }
    int sync() override { return drain() ? 0 : -1; }

private:
    intptr_t handle_;
    std::vector<char> data_;
    std::string error_;
};

std::string outputRefusal(const std::filesystem::path& target) {
    return platform::outputRefusal(target);
}

OutputFile::OutputFile() = default;

OutputFile::~OutputFile() {
    discard();
}

void OutputFile::discard() {
    std::string ignored;
    if (handle_ != platform::kNoHandle)
        platform::closeOutput(std::exchange(handle_, platform::kNoHandle), false, ignored);
    if (!temp_.empty())
        platform::removeOutput(std::exchange(temp_, {}));
}

bool OutputFile::open(const std::filesystem::path& target, std::string& error) {
    discard();
    error = platform::outputRefusal(target);
    if (!error.empty())
        return false;
    target_ = target;
    // A fresh, unguessable name, created exclusively: nothing planted there is followed.
    std::random_device random;
    char suffix[24];
    std::snprintf(suffix, sizeof(suffix), ".%08x%08x.tmp", random(), random());
    std::filesystem::path temp = target;
    temp += suffix;
    handle_ = platform::createOutput(temp, error);
    if (handle_ == platform::kNoHandle)
        return false;
    temp_ = std::move(temp);
    buffer_ = std::make_unique<Buffer>(handle_);
    stream_ = std::make_unique<std::ostream>(buffer_.get());
    return true;
}

std::ostream& OutputFile::stream() {
    return *stream_;
}

bool OutputFile::commit(std::string& error) {
    stream_->flush();
    bool ok = buffer_->drain() && !stream_->bad();
    error = buffer_->error();
    if (!ok && error.empty())
        error = "writing failed";
    std::string closeError;
    const bool closed =
        platform::closeOutput(std::exchange(handle_, platform::kNoHandle), ok, closeError);
    if (ok && !closed) {
        ok = false;
        error = closeError;
    }
    if (ok && platform::replaceOutput(temp_, target_, error)) {
        temp_.clear();
        return true;
    }
    discard();
    return false;
}

bool writeOutput(const std::filesystem::path& target, std::string_view bytes, std::string& error) {
    OutputFile file;
    if (!file.open(target, error))
        return false;
    file.stream().write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return file.commit(error);
}

}  // namespace velkaro::report
