// A TCP proxy on 127.0.0.1 that holds every chunk it reads for a fixed time
// before passing it on, so a benchmark can see the batch over a slower link
// than loopback: each round trip costs about twice the delay more. The
// kernel here offers no way to delay loopback traffic, hence this.
//
//   pirzol-delay LISTEN_PORT TARGET_PORT DELAY_US
//
// LISTEN_PORT 0 takes any free port. Prints "listening on 127.0.0.1:PORT, ..."
// once connections are accepted, then runs until SIGTERM. One thread: the
// waits are timed from the next chunk due, never by a fixed tick, so an idle
// link adds nothing beyond the delay.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <memory>
#include <vector>

namespace {

using Nanos = std::int64_t;

// Reading stops while this much waits in one direction: a large result must
// not pile up in the proxy when the reader is slower than the link.
constexpr std::size_t kMaxQueued = 4 << 20;

struct Chunk {
  Nanos due;
  std::vector<char> bytes;  // empty: the sender closed; pass the close on
};

struct Direction {
  std::deque<Chunk> queue;
  std::size_t sent = 0;     // of the head chunk
  std::size_t queued = 0;   // bytes in the queue
  bool eof = false;         // nothing more to read from the source
  bool shut = false;        // the close was passed on
  bool blocked = false;     // the destination takes no more for now
};

// fd[0] is the client, fd[1] the server; dir[d] carries fd[d] to fd[1 - d].
struct Link {
  int fd[2];
  Direction dir[2];
  bool dead = false;
  ~Link() {
    close(fd[0]);
    close(fd[1]);
  }
};

Nanos Now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<Nanos>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

long Number(const char* text, long max) {
  char* end = nullptr;
  long n = std::strtol(text, &end, 10);
  return (end == text || *end != '\0' || n < 0 || n > max) ? -1 : n;
}

sockaddr_in Loopback(long port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

// The batch's statements are small: without this the kernel would hold a
// short write back for the answer to the one before.
void Tune(int fd) {
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// Passes on what is due; a chunk the destination takes only in part waits
// for it to drain.
void Flush(Link& link, int d, Nanos now) {
  Direction& dir = link.dir[d];
  int to = link.fd[1 - d];
  dir.blocked = false;
  while (!dir.queue.empty() && dir.queue.front().due <= now) {
    Chunk& c = dir.queue.front();
    if (c.bytes.empty()) {
      shutdown(to, SHUT_WR);
      dir.shut = true;
      dir.queue.pop_front();
      continue;
    }
    ssize_t n = send(to, c.bytes.data() + dir.sent, c.bytes.size() - dir.sent,
                     MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        dir.blocked = true;
      } else if (errno != EINTR) {
        link.dead = true;
      }
      return;
    }
    dir.sent += static_cast<std::size_t>(n);
    if (dir.sent == c.bytes.size()) {
      dir.queued -= c.bytes.size();
      dir.sent = 0;
      dir.queue.pop_front();
    }
  }
}

void Read(Link& link, int d, Nanos delay) {
  static char buf[65536];
  Direction& dir = link.dir[d];
  ssize_t n = recv(link.fd[d], buf, sizeof buf, MSG_DONTWAIT);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
  if (n < 0) {
    link.dead = true;
    return;
  }
  // A chunk of its own size: most are a statement or an answer of a few
  // hundred bytes.
  dir.eof = n == 0;
  dir.queued += static_cast<std::size_t>(n);
  dir.queue.push_back(Chunk{Now() + delay, std::vector<char>(buf, buf + n)});
}

}  // namespace

int main(int argc, char** argv) {
  long listenPort = argc == 4 ? Number(argv[1], 65535) : -1;
  long targetPort = argc == 4 ? Number(argv[2], 65535) : -1;
  long delayUs = argc == 4 ? Number(argv[3], 10000000) : -1;
  if (listenPort < 0 || targetPort <= 0 || delayUs < 0) {
    std::fprintf(stderr, "usage: pirzol-delay LISTEN_PORT TARGET_PORT DELAY_US\n");
    return 2;
  }
  const Nanos delay = static_cast<Nanos>(delayUs) * 1000;
  // The default timer slack would let every timed wake come up to 50 us late.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  std::signal(SIGPIPE, SIG_IGN);

  int lfd = socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  setsockopt(lfd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr = Loopback(listenPort);
  socklen_t len = sizeof addr;
  if (lfd < 0 || bind(lfd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(lfd, 64) != 0 || getsockname(lfd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    std::perror("pirzol-delay: listen");
    return 1;
  }
  std::printf("listening on 127.0.0.1:%u, %ld us each way to port %ld\n", ntohs(addr.sin_port),
              delayUs, targetPort);
  std::fflush(stdout);

  std::vector<std::unique_ptr<Link>> links;
  std::vector<pollfd> fds;
  // A timed wait here ends some 50 us late, even with no timer slack. The
  // waits therefore aim that much early, by the lateness seen so far, and
  // what falls due within it goes out at once: on average a chunk then
  // leaves when it is due, without spinning on the clock.
  Nanos early = 0;
  for (;;) {
    Nanos now = Now();
    Nanos next = -1;
    for (auto& l : links) {
      for (int d = 0; d < 2 && !l->dead; ++d) Flush(*l, d, now + early);
    }
    // A pair is done once both closes are passed on, or a side is gone.
    links.erase(std::remove_if(links.begin(), links.end(),
                               [](const std::unique_ptr<Link>& l) {
                                 return l->dead || (l->dir[0].shut && l->dir[1].shut);
                               }),
                links.end());
    fds.assign(1, pollfd{lfd, POLLIN, 0});
    for (auto& l : links) {
      short ev[2] = {0, 0};
      for (int d = 0; d < 2; ++d) {
        const Direction& dir = l->dir[d];
        if (!dir.eof && dir.queued < kMaxQueued) ev[d] |= POLLIN;
        if (dir.blocked) ev[1 - d] |= POLLOUT;
        if (!dir.blocked && !dir.queue.empty() && (next < 0 || dir.queue.front().due < next)) {
          next = dir.queue.front().due;
        }
      }
      // A side with nothing asked of it is left out: a closed socket would
      // report its hang-up on every wait and spin the loop.
      fds.push_back(pollfd{ev[0] != 0 ? l->fd[0] : -1, ev[0], 0});
      fds.push_back(pollfd{ev[1] != 0 ? l->fd[1] : -1, ev[1], 0});
    }
    timespec wait{};
    Nanos left = next >= 0 && next - early > now ? next - early - now : 0;
    wait.tv_sec = static_cast<time_t>(left / 1000000000);
    wait.tv_nsec = static_cast<long>(left % 1000000000);
    int ready = ppoll(fds.data(), fds.size(), next >= 0 ? &wait : nullptr, nullptr);
    if (ready < 0 && errno != EINTR) {
      std::perror("pirzol-delay: ppoll");
      return 1;
    }
    if (ready == 0 && left > 0) {
      early += (Now() - (now + left) - early) / 8;
      if (early < 0) early = 0;
      if (early > delay / 2) early = delay / 2;
    }
    // Links first: the indexes of fds follow links as they were before any
    // accept below adds one.
    for (std::size_t i = 0; i < links.size(); ++i) {
      Link& l = *links[i];
      for (int d = 0; d < 2 && !l.dead; ++d) {
        if ((fds[1 + 2 * i + d].revents & (POLLIN | POLLHUP | POLLERR)) && !l.dir[d].eof) {
          Read(l, d, delay);
        }
      }
    }
    if (fds[0].revents & POLLIN) {
      int cfd = accept(lfd, nullptr, nullptr);
      if (cfd < 0) continue;
      int sfd = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in target = Loopback(targetPort);
      // A loopback connect is answered at once; a server between two runs
      // refuses, and the client sees its connection closed.
      if (sfd < 0 || connect(sfd, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
        close(cfd);
        if (sfd >= 0) close(sfd);
        continue;
      }
      Tune(cfd);
      Tune(sfd);
      auto link = std::make_unique<Link>();
      link->fd[0] = cfd;
      link->fd[1] = sfd;
      links.push_back(std::move(link));
    }
  }
}
