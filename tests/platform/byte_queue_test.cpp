// The queue behind inboxes and send buffers: bytes come out in the order they
// went in, whichever way they went in, and the storage is reused and moved
// down without losing or repeating any.
#include <gtest/gtest.h>

#include <span>
#include <string>
#include <string_view>

#include "platform/byte_queue.h"

namespace {

std::string_view Held(const ByteQueue<char>& queue) {
    return {queue.Front().data(), queue.size()};
}

void Put(ByteQueue<char>& queue, std::string_view text) {
    queue.Append({text.data(), text.size()});
}

TEST(ByteQueue, BoundedBufferReceivesIntoItsRoomAndStartsOverWhenEmptied) {
    ByteQueue<char> queue(8);
    std::span<char> room = queue.Room();
    ASSERT_EQ(room.size(), 8u);
    std::string_view("abcde").copy(room.data(), 5);
    queue.Commit(5);
    char out[3] = {};
    EXPECT_EQ(queue.Take(out), 3u);
    EXPECT_EQ(std::string_view(out, 3), "abc");
    EXPECT_EQ(Held(queue), "de");
    EXPECT_EQ(queue.Room().size(), 3u);  // taken bytes stay in front until compacted
    queue.Compact();
    EXPECT_EQ(queue.Room().size(), 6u);
    EXPECT_EQ(Held(queue), "de");
    queue.Consume(2);
    EXPECT_TRUE(queue.empty());
    EXPECT_EQ(queue.Room().size(), 8u);  // emptied: the whole storage again
    EXPECT_EQ(queue.Take(out), 0u);
}

TEST(ByteQueue, AppendGrowsAndCompactsOnlyPastTheSlack) {
    ByteQueue<char> queue;
    const struct {
        std::string_view append;
        std::size_t consume;
        std::size_t slack;
        std::string_view held;
    } rows[] = {
        {"hello ", 2, 4, "llo "},             // two taken: within the slack, nothing moves
        {"world", 3, 4, " world"},            // five taken: moved down
        {std::string_view("\0x", 2), 0, 0, std::string_view(" world\0x", 8)},
        {"", 8, 0, ""},
    };
    for (const auto& row : rows) {
        Put(queue, row.append);
        queue.Consume(row.consume);
        queue.Compact(row.slack);
        EXPECT_EQ(Held(queue), row.held) << row.append;
    }
}

TEST(ByteQueue, ResizeKeepsWhatIsHeldAndRefusesLessRoomThanThat) {
    ByteQueue<char> queue(4);
    Put(queue, "abcd");
    queue.Consume(1);
    EXPECT_FALSE(queue.Resize(2));
    EXPECT_EQ(Held(queue), "bcd");
    ASSERT_TRUE(queue.Resize(16));
    EXPECT_EQ(queue.capacity(), 16u);
    EXPECT_EQ(Held(queue), "bcd");
    EXPECT_EQ(queue.Room().size(), 13u);
}

}  // namespace
