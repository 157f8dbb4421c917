// A fuzz input as a command line: the bytes split at every NUL into the
// words argv[0] .. argv[argc-1] (an empty input gives argc 0), each word in
// its own allocation of exactly its size, so that a read past a word's end
// is caught; argv[argc] is a null pointer, as in a real argument vector.
#ifndef ZORVAT_FUZZ_ARGVEC_H
#define ZORVAT_FUZZ_ARGVEC_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

class argvec {
   public:
    argvec(const uint8_t *data, size_t size) {
        if (size > 0) {
            const uint8_t *word = data;
            const uint8_t *end = data + size;
            for (;;) {
                const uint8_t *nul =
                    static_cast<const uint8_t *>(std::memchr(word, 0, static_cast<size_t>(end - word)));
                const uint8_t *stop = nul ? nul : end;
                size_t n = static_cast<size_t>(stop - word);
                std::unique_ptr<char[]> w(new char[n + 1]);
                std::memcpy(w.get(), word, n);
                w[n] = '\0';
                words_.push_back(std::move(w));
                if (!nul) {
                    break;
                }
                word = nul + 1;
            }
        }
        for (auto &w : words_) {
            argv_.push_back(w.get());
        }
        argv_.push_back(nullptr);
    }

    int argc() const {
        return static_cast<int>(words_.size());
    }
    char **argv() {
        return argv_.data();
    }

   private:
    std::vector<std::unique_ptr<char[]>> words_;
    std::vector<char *> argv_;
};

#endif
