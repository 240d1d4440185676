#include "read_ahead.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "inkrow/render.h"

namespace inkrow::source {
namespace {

struct Item {
    enum Kind { kPage, kLine, kEnd } kind = kEnd;
    PageInfo page;                   // kPage
    std::vector<std::uint8_t> line;  // kLine
    int status = 0;                  // kEnd: 0 at the document's end, or a failure
    std::string error;
};

class AheadReader final : public Reader {
public:
    AheadReader(std::unique_ptr<Reader> inner, std::size_t budget, std::atomic<bool>* closing)
        : inner_(std::move(inner)), budget_(budget), closing_(closing) {}

    ~AheadReader() override {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable()) {
            closing_->store(true, std::memory_order_release);
            thread_.join();
        }
    }

    AheadReader(const AheadReader&) = delete;
    AheadReader& operator=(const AheadReader&) = delete;

    bool Start() {
        try {
            thread_ = std::thread(&AheadReader::Produce, this);
            return true;
        } catch (const std::system_error&) {
            return false;
        }
    }

    std::unique_ptr<Reader> Release() { return std::move(inner_); }

    int NextPage(PageInfo* page, std::string* error) override {
        Item item = Take();
        if (item.kind == Item::kPage) {
            *page = item.page;
            return 1;
        }
        // The source never asks for a page in the middle of one, so this is the end.
        *error = std::move(item.error);
        return item.status;
    }

    int ReadLine(std::uint8_t* line, std::string* error) override {
        Item item = Take();
        if (item.kind != Item::kLine) {
            *error = std::move(item.error);
            return item.status != 0 ? item.status : RENDER_BAD_LINE;
        }
        std::copy(item.line.begin(), item.line.end(), line);
        const std::lock_guard<std::mutex> lock(mutex_);
        spare_ = std::move(item.line);  // the producer's next line reuses it
        return RENDER_OK;
    }

private:
    std::unique_ptr<Reader> inner_;
    std::size_t budget_;
    std::atomic<bool>* closing_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;  // an item was queued or taken, or stop
    std::deque<Item> queue_;
    std::size_t queued_ = 0;  // bytes of lines in the queue
    bool stopping_ = false;
    std::vector<std::uint8_t> spare_;

    Item Take() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return !queue_.empty(); });
        Item item = std::move(queue_.front());
        queue_.pop_front();
        queued_ -= item.line.size();
        // An end stays at the front for any later call.
        if (item.kind == Item::kEnd) queue_.push_front(item);
        lock.unlock();
        changed_.notify_all();
        return item;
    }

    // Queues an item, waiting while the lines ahead fill the budget; false when stopping.
    bool Put(Item item) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] {
            return stopping_ || queued_ == 0 || queued_ + item.line.size() <= budget_;
        });
        if (stopping_) return false;
        queued_ += item.line.size();
        queue_.push_back(std::move(item));
        lock.unlock();
        changed_.notify_all();
        return true;
    }

    std::vector<std::uint8_t> LineBuffer(std::size_t bytes) {
        std::vector<std::uint8_t> buffer;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            buffer.swap(spare_);
        }
        buffer.resize(bytes);
        return buffer;
    }

    void Fail(int status, const char* words) {
        Item failed;
        failed.status = status;
        failed.error = words;
        Put(std::move(failed));
    }

    void Produce() {
        try {
            for (;;) {
                Item page;
                const int found = inner_->NextPage(&page.page, &page.error);
                if (found != 1) {
                    page.status = found;
                    Put(std::move(page));
                    return;
                }
                page.kind = Item::kPage;
                const PageInfo info = page.page;
                if (!Put(std::move(page))) return;
                for (int y = 0; y < info.height; ++y) {
                    Item line;
                    line.kind = Item::kLine;
                    line.line = LineBuffer(info.lineBytes);
                    const int status = inner_->ReadLine(line.line.data(), &line.error);
                    if (status != RENDER_OK) {
                        line.kind = Item::kEnd;
                        line.line.clear();
                        line.status = status;
                        Put(std::move(line));
                        return;
                    }
                    if (!Put(std::move(line))) return;
                }
            }
        } catch (const std::bad_alloc&) {
            Fail(RENDER_NO_MEMORY, "out of memory");
        } catch (...) {
            // As the source's own guard words it on the caller's thread.
            Fail(RENDER_BAD_ARGUMENT, "unexpected failure");
        }
    }
};

}  // namespace

std::unique_ptr<Reader> ReadAhead(std::unique_ptr<Reader> inner, std::size_t budget,
                                  std::atomic<bool>* closing) {
    auto ahead = std::make_unique<AheadReader>(std::move(inner), budget, closing);
    if (!ahead->Start()) return ahead->Release();
    return ahead;
}

}  // namespace inkrow::source
