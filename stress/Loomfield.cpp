// Loomfield: 3D load. A grid of finely tessellated, lit tori spinning through
// OpenGL, redrawn as fast as the driver swaps.
#include <QElapsedTimer>
#include <QMatrix4x4>
#include <QOpenGLBuffer>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QOpenGLWidget>
#include <QVector3D>
#include <cmath>
#include <numbers>
#include <vector>

#include "stress/StressWindow.h"

namespace rq::stress {
namespace {

// Tessellation and count decide the load: about 590 000 triangles a frame.
constexpr int kRingSegments = 256;
constexpr int kTubeSegments = 128;
constexpr int kGrid = 3;
constexpr float kRingRadius = 1.0f;
constexpr float kTubeRadius = 0.35f;

constexpr const char* kVertexShader = R"(
attribute vec3 position;
attribute vec3 normal;
uniform mat4 modelView;
uniform mat4 projection;
uniform mat3 normalMatrix;
varying vec3 eyeNormal;
varying vec3 eyePosition;
void main() {
  vec4 eye = modelView * vec4(position, 1.0);
  eyePosition = eye.xyz;
  eyeNormal = normalMatrix * normal;
  gl_Position = projection * eye;
}
)";

constexpr const char* kFragmentShader = R"(
varying vec3 eyeNormal;
varying vec3 eyePosition;
uniform vec3 baseColour;
void main() {
  vec3 n = normalize(eyeNormal);
  vec3 toLight = normalize(vec3(4.0, 5.0, 6.0) - eyePosition);
  vec3 toEye = normalize(-eyePosition);
  float diffuse = max(dot(n, toLight), 0.0);
  float specular = pow(max(dot(reflect(-toLight, n), toEye), 0.0), 32.0);
  gl_FragColor = vec4(baseColour * (0.15 + 0.85 * diffuse) + vec3(specular), 1.0);
}
)";

struct Vertex {
  QVector3D position;
  QVector3D normal;
};

class SpinningMeshView : public QOpenGLWidget, protected QOpenGLFunctions {
 public:
  SpinningMeshView() : vertices_(QOpenGLBuffer::VertexBuffer), indices_(QOpenGLBuffer::IndexBuffer) {
    // Each finished frame asks for the next one: continuous drawing.
    connect(this, &QOpenGLWidget::frameSwapped, this, qOverload<>(&QWidget::update));
  }
  ~SpinningMeshView() override {
    makeCurrent();
    vertices_.destroy();
    indices_.destroy();
    doneCurrent();
  }

 protected:
  void initializeGL() override {
    initializeOpenGLFunctions();
    program_.addShaderFromSourceCode(QOpenGLShader::Vertex, kVertexShader);
    program_.addShaderFromSourceCode(QOpenGLShader::Fragment, kFragmentShader);
    program_.bindAttributeLocation("position", 0);
    program_.bindAttributeLocation("normal", 1);
    program_.link();
    BuildTorus();
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    clock_.start();
  }

  void resizeGL(int w, int h) override {
    projection_.setToIdentity();
    projection_.perspective(45.0f, static_cast<float>(w) / static_cast<float>(std::max(h, 1)), 0.1f, 100.0f);
  }

  void paintGL() override {
    glClearColor(0.05f, 0.05f, 0.1f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (!program_.isLinked()) return;
    const float seconds = static_cast<float>(clock_.elapsed()) / 1000.0f;
    program_.bind();
    vertices_.bind();
    indices_.bind();
    program_.enableAttributeArray(0);
    program_.enableAttributeArray(1);
    program_.setAttributeBuffer(0, GL_FLOAT, offsetof(Vertex, position), 3, sizeof(Vertex));
    program_.setAttributeBuffer(1, GL_FLOAT, offsetof(Vertex, normal), 3, sizeof(Vertex));
    program_.setUniformValue("projection", projection_);
    for (int row = 0; row < kGrid; ++row) {
      for (int column = 0; column < kGrid; ++column) {
        const int n = row * kGrid + column;
        QMatrix4x4 modelView;
        modelView.translate(static_cast<float>(column - 1) * 2.6f, static_cast<float>(row - 1) * 2.6f, -9.0f);
        modelView.rotate(seconds * (40.0f + 7.0f * static_cast<float>(n)), 1.0f, 0.4f,
                         0.2f * static_cast<float>(n));
        modelView.rotate(seconds * 25.0f, 0.0f, 1.0f, 0.0f);
        program_.setUniformValue("modelView", modelView);
        program_.setUniformValue("normalMatrix", modelView.normalMatrix());
        program_.setUniformValue("baseColour", QVector3D(0.3f + 0.2f * static_cast<float>(row),
                                                         0.8f - 0.2f * static_cast<float>(column), 0.6f));
        glDrawElements(GL_TRIANGLES, indexCount_, GL_UNSIGNED_INT, nullptr);
      }
    }
    program_.disableAttributeArray(0);
    program_.disableAttributeArray(1);
    indices_.release();
    vertices_.release();
    program_.release();
  }

 private:
  void BuildTorus() {
    std::vector<Vertex> vertices;
    vertices.reserve(static_cast<std::size_t>((kRingSegments + 1) * (kTubeSegments + 1)));
    constexpr float kTau = 2.0f * std::numbers::pi_v<float>;
    for (int i = 0; i <= kRingSegments; ++i) {
      const float u = kTau * static_cast<float>(i) / kRingSegments;
      for (int j = 0; j <= kTubeSegments; ++j) {
        const float v = kTau * static_cast<float>(j) / kTubeSegments;
        const QVector3D normal(std::cos(u) * std::cos(v), std::sin(u) * std::cos(v), std::sin(v));
        const QVector3D centre(std::cos(u) * kRingRadius, std::sin(u) * kRingRadius, 0.0f);
        vertices.push_back({centre + kTubeRadius * normal, normal});
      }
    }
    std::vector<GLuint> indices;
    indices.reserve(static_cast<std::size_t>(kRingSegments * kTubeSegments * 6));
    const auto at = [](int i, int j) { return static_cast<GLuint>(i * (kTubeSegments + 1) + j); };
    for (int i = 0; i < kRingSegments; ++i) {
      for (int j = 0; j < kTubeSegments; ++j) {
        indices.insert(indices.end(),
                       {at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j), at(i + 1, j + 1), at(i, j + 1)});
      }
    }
    vertices_.create();
    vertices_.bind();
    vertices_.allocate(vertices.data(), static_cast<int>(vertices.size() * sizeof(Vertex)));
    indices_.create();
    indices_.bind();
    indices_.allocate(indices.data(), static_cast<int>(indices.size() * sizeof(GLuint)));
    indexCount_ = static_cast<GLsizei>(indices.size());
  }

  QOpenGLShaderProgram program_;
  QOpenGLBuffer vertices_;
  QOpenGLBuffer indices_;
  GLsizei indexCount_ = 0;
  QMatrix4x4 projection_;
  QElapsedTimer clock_;
};

}  // namespace
}  // namespace rq::stress

int main(int argc, char** argv) {
  return rq::stress::RunStressProgram(argc, argv, QStringLiteral("Testing Program"),
                                      [] { return new rq::stress::SpinningMeshView; });
}
