// Triangulation of a flat region bounded by one outline and any number of
// holes, all simple polygons: each hole is joined to the outline by a bridge
// (a doubled edge), which leaves one weakly simple polygon, and that polygon is
// cut into triangles by ear clipping. Of the ears available the one whose
// smallest angle is largest is cut first; edge flips towards the Delaunay
// triangulation then remove the slivers left (fans along arcs, mostly).
// Points are in any units; only their relative placement matters.
#include "zkassets.h"

#include <math.h>

#include <algorithm>

static const double EPS = 1e-9; // tolerance of the orientation tests, squared units

static double cross(ZkaPoint o, ZkaPoint a, ZkaPoint b) {
  return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

static double signedArea(const std::vector<ZkaPoint> &c) {
  double sum = 0;
  for (size_t i = 0; i < c.size(); i++) {
    const ZkaPoint &a = c[i], &b = c[(i + 1) % c.size()];
    sum += a.x * b.y - b.x * a.y;
  }
  return sum / 2;
}

// True when p lies inside or on the triangle a, b, c (counterclockwise).
static bool inTriangle(ZkaPoint p, ZkaPoint a, ZkaPoint b, ZkaPoint c) {
  return cross(a, b, p) >= -EPS && cross(b, c, p) >= -EPS && cross(c, a, p) >= -EPS;
}

static bool samePoint(ZkaPoint a, ZkaPoint b) {
  return a.x == b.x && a.y == b.y;
}

// Smallest interior angle of the triangle a, b, c, in radians.
static double smallestAngle(ZkaPoint a, ZkaPoint b, ZkaPoint c) {
  const ZkaPoint p[3] = {a, b, c};
  double smallest = 4.0;
  for (int i = 0; i < 3; i++) {
    ZkaPoint o = p[i], u = p[(i + 1) % 3], v = p[(i + 2) % 3];
    double ux = u.x - o.x, uy = u.y - o.y, vx = v.x - o.x, vy = v.y - o.y;
    double angle = atan2(fabs(ux * vy - uy * vx), ux * vx + uy * vy);
    smallest = std::min(smallest, angle);
  }
  return smallest;
}

// Joins the hole (clockwise, indices into pts) into the ring (counterclockwise)
// through a bridge from the hole's rightmost vertex to a ring vertex it sees.
static bool bridgeHole(const std::vector<ZkaPoint> &pts, std::vector<int> *ring,
                       const std::vector<int> &hole) {
  size_t m = 0;
  for (size_t i = 1; i < hole.size(); i++)
    if (pts[hole[i]].x > pts[hole[m]].x)
      m = i;
  ZkaPoint hm = pts[hole[m]];
  // Nearest crossing of the ray from hm towards +x with a ring edge.
  double best_x = INFINITY;
  size_t best = ring->size();
  for (size_t i = 0; i < ring->size(); i++) {
    ZkaPoint a = pts[(*ring)[i]], b = pts[(*ring)[(i + 1) % ring->size()]];
    if ((a.y > hm.y) == (b.y > hm.y))
      continue;
    double x = a.x + (hm.y - a.y) * (b.x - a.x) / (b.y - a.y);
    if (x >= hm.x && x < best_x) {
      best_x = x;
      best = a.x > b.x ? i : (i + 1) % ring->size();
    }
  }
  if (best == ring->size())
    return false;
  // A ring vertex inside the triangle hm, crossing, candidate would hide the
  // candidate; then the one closest in angle to the ray is used instead.
  ZkaPoint hit = {best_x, hm.y}, cand = pts[(*ring)[best]];
  ZkaPoint t0 = hm, t1 = hit, t2 = cand;
  if (cross(t0, t1, t2) < 0)
    std::swap(t1, t2);
  double best_angle = INFINITY;
  for (size_t i = 0; i < ring->size(); i++) {
    ZkaPoint p = pts[(*ring)[i]];
    if (i == best || samePoint(p, cand) || !inTriangle(p, t0, t1, t2))
      continue;
    double angle = fabs(atan2(p.y - hm.y, p.x - hm.x));
    if (angle < best_angle) {
      best_angle = angle;
      best = i;
    }
  }
  std::vector<int> joined(ring->begin(), ring->begin() + best + 1);
  for (size_t i = 0; i <= hole.size(); i++)
    joined.push_back(hole[(m + i) % hole.size()]);
  joined.insert(joined.end(), ring->begin() + best, ring->end());
  *ring = joined;
  return true;
}

// True when the vertex at position i of the ring is an ear: convex, and no
// other ring point lies inside or on the triangle it cuts off.
static bool isEar(const std::vector<ZkaPoint> &pts, const std::vector<int> &ring, size_t i) {
  size_t n = ring.size();
  int ia = ring[(i + n - 1) % n], ib = ring[i], ic = ring[(i + 1) % n];
  ZkaPoint a = pts[ia], b = pts[ib], c = pts[ic];
  if (cross(a, b, c) <= EPS)
    return false;
  for (int j : ring) {
    if (j == ia || j == ib || j == ic)
      continue;
    ZkaPoint p = pts[j];
    if (samePoint(p, a) || samePoint(p, b) || samePoint(p, c))
      continue;
    if (inTriangle(p, a, b, c))
      return false;
  }
  return true;
}

// Angle at o in the triangle o, a, b, in radians.
static double angleAt(ZkaPoint o, ZkaPoint a, ZkaPoint b) {
  double ux = a.x - o.x, uy = a.y - o.y, vx = b.x - o.x, vy = b.y - o.y;
  return atan2(fabs(ux * vy - uy * vx), ux * vx + uy * vy);
}

// Flips every inner edge whose two opposite angles sum to more than 180
// degrees until none is left; triangles stay counterclockwise. The quad of a
// flipped edge is then convex, so both new triangles are proper.
static void flipToDelaunay(const std::vector<ZkaPoint> &pts, std::vector<int> *tris) {
  std::vector<int> &t = *tris;
  const size_t n = t.size() / 3;
  for (size_t round = 0; round < 100 * n + 100; round++) {
    bool flipped = false;
    for (size_t i = 0; i < n && !flipped; i++)
      for (int e = 0; e < 3 && !flipped; e++) {
        int a = t[i * 3 + e], b = t[i * 3 + (e + 1) % 3], c = t[i * 3 + (e + 2) % 3];
        for (size_t j = 0; j < n && !flipped; j++) {
          if (j == i)
            continue;
          for (int f = 0; f < 3; f++) {
            if (t[j * 3 + f] != b || t[j * 3 + (f + 1) % 3] != a)
              continue;
            int d = t[j * 3 + (f + 2) % 3];
            ZkaPoint pa = pts[a], pb = pts[b], pc = pts[c], pd = pts[d];
            if (angleAt(pc, pa, pb) + angleAt(pd, pa, pb) <= 3.14159265358979323846 + 1e-9)
              break;
            if (cross(pa, pd, pc) <= EPS || cross(pd, pb, pc) <= EPS)
              break;
            const int first[3] = {a, d, c}, second[3] = {d, b, c};
            for (int k = 0; k < 3; k++) {
              t[i * 3 + k] = first[k];
              t[j * 3 + k] = second[k];
            }
            flipped = true;
            break;
          }
        }
      }
    if (!flipped)
      return;
  }
}

// The triangles tile the region exactly when, all being counterclockwise and
// inside it, their areas add up to the outline's area less the holes'.
static bool coversRegion(const std::vector<std::vector<ZkaPoint>> &contours,
                         const std::vector<ZkaPoint> &pts, const std::vector<int> &tris) {
  double region = fabs(signedArea(contours[0]));
  for (size_t c = 1; c < contours.size(); c++)
    region -= fabs(signedArea(contours[c]));
  double covered = 0;
  for (size_t t = 0; t + 2 < tris.size(); t += 3) {
    double twice = cross(pts[tris[t]], pts[tris[t + 1]], pts[tris[t + 2]]);
    if (twice <= 0)
      return false;
    covered += twice / 2;
  }
  return fabs(covered - region) <= 1e-9 * region;
}

bool zkaTriangulate(const std::vector<std::vector<ZkaPoint>> &contours,
                    std::vector<ZkaPoint> *points, std::vector<int> *triangles) {
  if (contours.empty() || contours[0].size() < 3)
    return false;
  std::vector<ZkaPoint> &pts = *points;
  pts.clear();
  triangles->clear();
  std::vector<std::vector<int>> rings;
  for (size_t c = 0; c < contours.size(); c++) {
    std::vector<int> ring;
    for (const ZkaPoint &p : contours[c]) {
      ring.push_back((int)pts.size());
      pts.push_back(p);
    }
    // Outline counterclockwise, holes clockwise.
    bool ccw = signedArea(contours[c]) > 0;
    if (ccw != (c == 0))
      std::reverse(ring.begin(), ring.end());
    rings.push_back(ring);
  }
  // Holes are joined rightmost first, so a later bridge never crosses an earlier one.
  std::vector<std::vector<int>> holes(rings.begin() + 1, rings.end());
  auto rightmost = [&](const std::vector<int> &h) {
    double x = -INFINITY;
    for (int i : h)
      x = std::max(x, pts[i].x);
    return x;
  };
  std::sort(holes.begin(), holes.end(), [&](const std::vector<int> &a, const std::vector<int> &b) {
    return rightmost(a) > rightmost(b);
  });
  std::vector<int> ring = rings[0];
  for (const std::vector<int> &h : holes)
    if (!bridgeHole(pts, &ring, h))
      return false;

  while (ring.size() > 3) {
    size_t best = ring.size();
    double best_angle = -1;
    for (size_t i = 0; i < ring.size(); i++) {
      if (!isEar(pts, ring, i))
        continue;
      size_t n = ring.size();
      double angle =
          smallestAngle(pts[ring[(i + n - 1) % n]], pts[ring[i]], pts[ring[(i + 1) % n]]);
      if (angle > best_angle + 1e-12) {
        best_angle = angle;
        best = i;
      }
    }
    if (best == ring.size()) {
      // No ear left: only collinear runs remain (zero-area corners), which
      // are dropped; anything else means the contours were not simple.
      bool dropped = false;
      for (size_t i = 0; i < ring.size() && !dropped; i++) {
        size_t n = ring.size();
        if (fabs(cross(pts[ring[(i + n - 1) % n]], pts[ring[i]], pts[ring[(i + 1) % n]])) <= EPS) {
          ring.erase(ring.begin() + i);
          dropped = true;
        }
      }
      if (!dropped)
        return false;
      continue;
    }
    size_t n = ring.size();
    triangles->push_back(ring[(best + n - 1) % n]);
    triangles->push_back(ring[best]);
    triangles->push_back(ring[(best + 1) % n]);
    ring.erase(ring.begin() + best);
  }
  if (cross(pts[ring[0]], pts[ring[1]], pts[ring[2]]) > EPS) {
    triangles->push_back(ring[0]);
    triangles->push_back(ring[1]);
    triangles->push_back(ring[2]);
  }
  flipToDelaunay(pts, triangles);
  return coversRegion(contours, pts, *triangles);
}
