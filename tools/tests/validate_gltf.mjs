// Validates a .gltf or .glb file with the glTF validator's JavaScript API:
//   node validate_gltf.mjs FILE
// Resources the file names by relative URI are read from the folder the file is in. Prints the
// counts of errors, warnings, infos and hints and every message, then exits with 0 when there
// is no error, 1 when there is one (or the file cannot be read or validated), and 77 when the
// validator package cannot be loaded. The package is looked for in QUILLMESH_GLTF_VALIDATOR
// (its folder), else in /opt/quillmesh-node/node_modules/gltf-validator, else by its name.
import { readFile } from 'node:fs/promises';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

const kSkip = 77;
const kDefaultFolder = '/opt/quillmesh-node/node_modules/gltf-validator';

async function loadValidator() {
    const folder = process.env.QUILLMESH_GLTF_VALIDATOR || kDefaultFolder;
    const tried = [];
    for (const specifier of [pathToFileURL(path.join(folder, 'index.js')).href, 'gltf-validator']) {
        try {
            const module = await import(specifier);
            return module.default ?? module;
        } catch (error) {
            tried.push(`${specifier} (${error.code ?? error.message})`);
        }
    }
    console.log(`node or gltf-validator not found: cannot load ${tried.join(', ')}`);
    process.exit(kSkip);
}

const severities = ['error', 'warning', 'info', 'hint'];

async function main() {
    const validator = await loadValidator();
    if (process.argv.length !== 3) {
        console.error('usage: node validate_gltf.mjs FILE');
        process.exit(2);
    }
    const file = path.resolve(process.argv[2]);
    const folder = path.dirname(file);
    const bytes = new Uint8Array(await readFile(file));
    const report = await validator.validateBytes(bytes, {
        uri: path.basename(file),
        maxIssues: 0,
        writeTimestamp: false,
        externalResourceFunction: async (uri) =>
            new Uint8Array(await readFile(path.resolve(folder, decodeURIComponent(uri)))),
    });
    const issues = report.issues;
    console.log(`${path.basename(file)}: validator ${report.validatorVersion}, ` +
                `${issues.numErrors} errors, ${issues.numWarnings} warnings, ` +
                `${issues.numInfos} infos, ${issues.numHints} hints`);
    for (const message of issues.messages) {
        const where = message.pointer ? ` at ${message.pointer}` : '';
        console.log(`  ${severities[message.severity] ?? message.severity} ${message.code}` +
                    `${where}: ${message.message}`);
    }
    const info = report.info ?? {};
    console.log(`  ${info.drawCallCount ?? 0} draw calls, ${info.totalVertexCount ?? 0} vertices, ` +
                `${info.totalTriangleCount ?? 0} triangles, ${info.materialCount ?? 0} materials`);
    process.exit(issues.numErrors === 0 ? 0 : 1);
}

main().catch((error) => {
    console.log(`validation failed: ${error?.stack ?? error}`);
    process.exit(1);
});
